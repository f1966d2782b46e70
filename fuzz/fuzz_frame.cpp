// Any bytes as the stream an STB sends, hunted through frame by frame as the daemon's
// receive loop does: every answer of the scanner stays within the bytes it was given, a
// whole frame is exactly what sealing its payload again gives, and hunting always moves
// on or stops for more bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static std::vector<uint8_t> sealed(kMaxFrame);
    size_t nAt = 0;
    for (;;) {
        const size_t nLeft = nSize - nAt;
        const CFrameView view = ScanFrame(pData + nAt, nLeft);
        if (view.nBytes == 0)
            abort();  // no answer may leave the hunt where it stands
        if (view.eScan == FrameScan::NeedMore) {
            if (nLeft + view.nBytes > static_cast<size_t>(kMaxFrame))
                abort();  // asks for more than any frame holds
            return 0;
        }
        if (view.nBytes > nLeft)
            abort();  // a frame or a drop past the bytes given
        if (view.eScan == FrameScan::Whole) {
            if (view.pPayload != pData + nAt + kPayloadOffset || view.nPayload + kFrameOverhead != view.nBytes)
                abort();
            memcpy(sealed.data() + kPayloadOffset, view.pPayload, view.nPayload);
            if (SealFrame(sealed.data(), view.ucCommand, view.nPayload) != view.nBytes ||
                memcmp(sealed.data(), pData + nAt, view.nBytes) != 0)
                abort();  // sealing the payload again gives other bytes
        } else if (view.eFault == FrameFault::None) {
            abort();  // a drop without its reason
        }
        nAt += view.nBytes;
    }
}
