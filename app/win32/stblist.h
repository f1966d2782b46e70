// The list of connected STBs in the Windows dialog: a list view in report view with the
// columns STB, Since, Doing and Progress, the progress cell of a transfer drawn as a bar
// with its text on it (the list's custom draw). It draws what the dialog's logic gives it.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "app/statusrows.h"

class CStbList {
public:
    // Takes the list view (a child of the dialog) and sets its columns.
    void Attach(HWND hList);
    // The list gets nRows rows, added or taken away at its end.
    void SetCount(size_t nRows);
    // Shows one row.
    void SetRow(size_t nRow, const CStbRow& row);
    // The answer to the list's NM_CUSTOMDRAW: the progress cells of transfers are drawn
    // here, everything else by the list.
    LRESULT OnCustomDraw(const NMLVCUSTOMDRAW& draw) const;

private:
    HWND m_hList = nullptr;
    std::vector<CStbRow> m_arrRows;  // what each row shows, for drawing its bar
};

// Draws a progress bar filled to nPercent (0..100) over rc, with the text centred on it:
// light on the filled part, dark on the rest.
void DrawProgressCell(HDC hDc, RECT rc, int nPercent, const wchar_t* pszText);
