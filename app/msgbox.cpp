#include "app/msgbox.h"

#include <cstdio>

void CStderrBoxes::Show(const std::string& strText, Icon eIcon)
{
    std::string strLine = strText;
    while (!strLine.empty() && strLine.back() == '\n')
        strLine.pop_back();
    fprintf(stderr, "corvane: %s%s\n", eIcon == Icon::Error ? "" : "warning: ", strLine.c_str());
}
