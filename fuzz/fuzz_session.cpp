// Feeds any byte sequence, as the stream an STB sends, into a real session over a
// socket pair whose far end closes after the input. The session serves a small
// temporary shared folder, so every command of the main loop and of both directory
// sub-loops can act on real files.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/settings.h"
#include "fuzz/fuzz_share.h"
#include "net/sess.h"
#include "platform/log.h"
#include "platform/socket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static CFuzzShare share;
    share.Reset();

    plat::Socket hStb, hDaemon;
    if (plat::SockPair(&hStb, &hDaemon) != 0)
        abort();
    // The far end takes every reply so that no send of the session ever blocks.
    std::thread drain([hStb] {
        char buf[65536];
        while (plat::SockRecv(hStb, buf, sizeof(buf)) > 0) {
        }
    });
    plat::SockSendAll(hStb, pData, nSize);
    plat::SockShutdown(hStb);  // the STB is gone after its input: the session ends there

    CSess* pSess = new CSess(hDaemon);
    pSess->m_nWaitTimeoutMs = 200;
    pSess->m_nBodyTimeoutMs = 200;
    STB_SessTask(pSess);  // the whole session: command loop, worker wait, close
    delete pSess;
    drain.join();
    plat::SockClose(hStb);
    return 0;
}
