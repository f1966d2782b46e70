// Where STBs reach this computer: the addresses the listener takes connections on, and
// the lines that tell the user (the headless daemon writes them once at start).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The IPv4 addresses (host byte order) that STBs can connect to: the one address --listen
// binds (strListen, dotted), else every address of the computer but loopback. Empty when
// the computer has no such address or cannot list them.
std::vector<uint32_t> ListenAddresses(const std::string& strListen);

// One line for each address, "STBs reach this computer at 192.168.1.23 port 2008\n"; with
// no address a line that says so.
std::string StbAddressLines(const std::vector<uint32_t>& addrs, uint16_t usPort);
