#include "result_table.h"

#include <algorithm>
#include <cstdio>
#include <utility>

BenchRow MakeRow(std::string strName, const char* pszUnit, TargetKind eTarget, double dTarget, int nDecimals)
{
    BenchRow r;
    r.strName = std::move(strName);
    r.strUnit = pszUnit;
    r.eTarget = eTarget;
    r.dTarget = dTarget;
    r.nDecimals = nDecimals;
    return r;
}

BenchRow MakeAimRow(std::string strName, const char* pszUnit, TargetKind eAim, double dAim, int nDecimals)
{
    BenchRow r = MakeRow(std::move(strName), pszUnit, eAim, dAim, nDecimals);
    r.bAim = true;
    return r;
}

const char* BenchRow::Verdict() const
{
    if (!bMeasured)
        return "FAIL";
    if (bAim)
        return "info";
    switch (eTarget) {
    case TargetKind::AtLeast:
        return dValue >= dTarget ? "PASS" : "FAIL";
    case TargetKind::AtMost:
        return dValue <= dTarget ? "PASS" : "FAIL";
    case TargetKind::None:
        break;
    }
    return "info";
}

std::string BenchRow::ValueText() const
{
    if (!bMeasured)
        return "error";
    char sz[64];
    snprintf(sz, sizeof(sz), "%.*f", nDecimals, dValue);
    return sz;
}

std::string BenchRow::TargetText() const
{
    if (eTarget == TargetKind::None)
        return "-";
    char sz[64];
    snprintf(sz, sizeof(sz), bAim ? "(%s %g)" : "%s %g", eTarget == TargetKind::AtLeast ? ">=" : "<=", dTarget);
    return sz;
}

void PrintRowLines(const std::vector<BenchRow>& rows)
{
    for (const BenchRow& r : rows)
        printf("%s\t%s\t%s\t%s\t%s\n", r.strName.c_str(), r.ValueText().c_str(), r.strUnit.c_str(),
               r.TargetText().c_str(), r.Verdict());
    fflush(stdout);
}

void PrintRowTable(const std::vector<BenchRow>& rows)
{
    size_t w[4] = {11, 5, 4, 6};  // the headings' widths
    for (const BenchRow& r : rows) {
        w[0] = std::max(w[0], r.strName.size());
        w[1] = std::max(w[1], r.ValueText().size());
        w[2] = std::max(w[2], r.strUnit.size());
        w[3] = std::max(w[3], r.TargetText().size());
    }
    auto line = [&](const char* a, const char* b, const char* c, const char* d, const char* e) {
        printf("%-*s  %*s  %-*s  %-*s  %s\n", static_cast<int>(w[0]), a, static_cast<int>(w[1]), b,
               static_cast<int>(w[2]), c, static_cast<int>(w[3]), d, e);
    };
    line("measurement", "value", "unit", "target", "result");
    for (const BenchRow& r : rows)
        line(r.strName.c_str(), r.ValueText().c_str(), r.strUnit.c_str(), r.TargetText().c_str(), r.Verdict());
    fflush(stdout);
}

bool AllPassed(const std::vector<BenchRow>& rows)
{
    return std::none_of(rows.begin(), rows.end(), [](const BenchRow& r) { return std::string(r.Verdict()) == "FAIL"; });
}

int ReportRows(const std::vector<BenchRow>& rows, bool bLines)
{
    if (bLines)
        PrintRowLines(rows);
    else
        PrintRowTable(rows);
    return AllPassed(rows) ? 0 : 1;
}
