// The computer's own network addresses, which STBs of the home network connect to.
#pragma once

#include <cstdint>
#include <vector>

namespace plat {

// The IPv4 addresses of the network interfaces that are up, in host byte order
// (192.168.1.23 is 0xC0A80117), each once, in the order the system lists them. Loopback
// interfaces and addresses (127.0.0.0/8) are left out: no STB reaches them. 0, or -1 when
// the system cannot list them (addrs is then empty).
int ListLocalIPv4(std::vector<uint32_t>& addrs);

}  // namespace plat
