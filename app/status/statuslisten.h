// Where the status page is served: --status-listen's "ADDR:PORT" or "off", the settings
// file's [Config] StatusListen, by default 127.0.0.1:2009 (this computer only). Read on
// every platform, so that the command line is checked alike; only a build that serves the
// page (libmicrohttpd, Linux) takes it.
#pragma once

#include <cstdint>
#include <string>

#ifdef CORVANE_STATUS_PAGE
inline constexpr bool kStatusPageServed = true;
#else
// Windows shows the status in the dialog and the tray icon.
inline constexpr bool kStatusPageServed = false;
#endif

constexpr uint16_t kStatusPort = 2009;
// The default of --status-listen: this computer only.
extern const char* const g_pszDefaultStatusListen;

struct CStatusListen {
    bool bOff = false;
    uint32_t ulAddr = 0x7F000001;  // host byte order
    uint16_t usPort = kStatusPort;
};

// Reads "ADDR:PORT" (a dotted IPv4 address and a port from 1 to 65535; port 0 only when
// bAnyPort, for tests) or "off". 0, or -1 when the text is neither.
int ParseStatusListen(const char* pszText, CStatusListen& listen, bool bAnyPort = false);

// "127.0.0.1:2009", or "off".
std::string StatusListenText(const CStatusListen& listen);

// What --status-listen and StatusListen take, for the messages that refuse a value.
extern const char* const g_pszStatusListenForm;
