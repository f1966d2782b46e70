// Inside the program starter: the waits both platforms' starters share.
#pragma once

#include <cstdint>
#include <functional>

// Polls pred every millisecond until it holds or the time runs out; returns pred().
bool PollUntil(const std::function<bool()>& pred, int timeoutMs);
// True when a connection to pszAddr:port completes (it is closed again at once).
bool Connects(const char* pszAddr, uint16_t port);
