// The status in the Prometheus text exposition format (the status page's /metrics):
// counters since start and gauges of now.
#pragma once

#include <string>

#include "net/statusboard.h"

std::string StatusMetrics(const CStatusSnapshot& snap);
