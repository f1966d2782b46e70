// Feeds any byte sequence, as the stream an STB sends, into a real session over a memory
// link: the command loop runs on this thread until the input is used up, then the STB
// closes the connection and the session ends (a copy or move it started is awaited). The
// input's first byte sets the session's options (CFuzzShare::Apply); the session serves a
// small temporary shared folder, so every command of the main loop and of both directory
// sub-loops acts on real files, names in a code page, links that lead out and a FIFO.
#include <cstdint>
#include <cstdlib>

#include "fuzz/fuzz_share.h"
#include "net/memsess.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static CFuzzShare share;
    if (nSize == 0)
        return 0;
    share.Reset();
    CMemSession session;
    share.Apply(pData[0], session.Sess());
    session.Link().KeepWritten(false);  // the STB reads every reply and forgets it
    session.Push(pData + 1, nSize - 1);
    session.Close();
    if (!session.Sess().m_bWideLinks && !share.OutsideUntouched())
        abort();  // something outside the shared folder changed
    return 0;
}
