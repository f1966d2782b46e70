// FC_VER_REQ round trips on one connection, one request at a time, in blocks: the
// measurement of bench_ver's single-connection rows, on the daemon or the floor server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <vector>

#include "tools/stb_conn.h"

struct SerialFigures {
    double dRate = 0;   // round trips per second
    double dP50Us = 0;  // median round trip
    double dP99Us = 0;  // 99th-percentile round trip
    // CPU time the server spent per round trip: unlike the rate, it hardly depends on
    // what else the machine is doing.
    double dServerCpuUs = 0;
};

class CVerSerial {
public:
    // Round trips of the warm-up, before any block.
    static constexpr int kWarmupRoundTrips = 1000;

    // Connects to the server on usPort (process pid, for its CPU time) and warms the
    // connection up. False, with the reason on standard error, when it cannot.
    bool Open(uint16_t usPort, pid_t pid);
    // nCount round trips, each reply checked byte for byte; dRate receives their rate.
    // The figures count every block so far. False, with the reason on standard error.
    bool Block(int nCount, double& dRate);
    // Over every block so far; prints them on standard error.
    SerialFigures Figures(const char* pszServer) const;
    // Round trips of the blocks so far.
    size_t RoundTrips() const { return m_Micros.size(); }

private:
    CStbConn m_Conn{0};  // one reply at a time: the smallest receive buffer
    pid_t m_pid = -1;
    std::vector<float> m_Micros;  // every round trip of the blocks
    double m_dSeconds = 0;        // the blocks' time
    double m_dServerCpu = 0;      // and the server's CPU time over them
};
