// The rows a benchmark reports: a name, a value, a unit, and the target it is held to.
// A benchmark prints them as a table of its own, or (--rows) as tab-separated lines that
// bench/run gathers into one table for every benchmark.
//
// A row passes or fails only on a ratio to a floor measured in the same run (the floor
// server, a plain loop, a baseline daemon): what the machine's speed and load decide cancels
// out of it. An absolute figure (round trips per second, KiB per session) may carry an aim,
// printed in parentheses beside it; its row is "info" whatever the value.
#pragma once

#include <string>
#include <vector>

enum class TargetKind { None, AtLeast, AtMost };

struct BenchRow {
    std::string strName;
    double dValue = 0;
    bool bMeasured = false;  // false: the measurement itself failed (the row fails)
    std::string strUnit;
    TargetKind eTarget = TargetKind::None;
    double dTarget = 0;
    bool bAim = false;  // the target is an aim: shown, never a verdict
    int nDecimals = 0;

    // Records the measured value.
    void Set(double dMeasured)
    {
        dValue = dMeasured;
        bMeasured = true;
    }
    // "PASS", "FAIL", or "info" for a row without a target or with an aim. A row whose
    // measurement failed is "FAIL" in any case.
    const char* Verdict() const;
    std::string ValueText() const;
    std::string TargetText() const;
};

// A row not measured yet (it fails unless Set is called). eTarget other than None: a
// ratio to a floor of the same run, held to dTarget.
BenchRow MakeRow(std::string strName, const char* pszUnit, TargetKind eTarget, double dTarget, int nDecimals);
// The same for an absolute figure with an aim: dAim is shown, never held.
BenchRow MakeAimRow(std::string strName, const char* pszUnit, TargetKind eAim, double dAim, int nDecimals);

// Tab-separated: name, value, unit, target, verdict; one row a line.
void PrintRowLines(const std::vector<BenchRow>& rows);
// An aligned table with a heading line.
void PrintRowTable(const std::vector<BenchRow>& rows);
// True when no row failed.
bool AllPassed(const std::vector<BenchRow>& rows);
// Prints the rows as lines (bLines) or as a table; the program's exit status: 0 when no
// row failed, 1 otherwise.
int ReportRows(const std::vector<BenchRow>& rows, bool bLines);
