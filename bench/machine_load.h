// How busy the machine is apart from the benchmark: client/daemon round trips share two
// cores with whatever else runs, so a busy machine makes every figure low and noisy.
#pragma once

// The share of all CPU time (0..1) that was not idle over the next nMillis, or -1 when
// /proc/stat cannot be read. Call it while the benchmark itself is quiet.
double SampleCpuBusy(int nMillis);

// Samples for nMillis and warns on standard error when the machine is busier than
// dThreshold. The sampled share, or -1.
double WarnIfBusy(const char* pszProgram, int nMillis, double dThreshold);
