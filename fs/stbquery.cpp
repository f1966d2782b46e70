#include "fs/stbquery.h"

#include <vector>

#include "fs/path.h"
#include "net/payload.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/wire.h"
#include "net/xferctx.h"
#include "platform/dir.h"
#include "platform/file.h"
#include "platform/log.h"

namespace {

// Header of a ".stb" file: big-endian model and version at these offsets.
constexpr int kHeaderBytes = 32;
constexpr int kModelOffset = 16;
constexpr int kVersionOffset = 22;

}  // namespace

bool FindNewestStbFile(const std::string& strFolder, uint16_t usModel, uint16_t usVersion, std::string& strName,
                       bool bWideLinks, CStbNames* pNames)
{
    strName.clear();
    const plat::CShare share{strFolder, bWideLinks};
    std::vector<plat::FindEntry> entries;
    if (strFolder.empty() || plat::EnumDirectory(share, strFolder, entries, false) != 0)
        return false;
    uint16_t usBest = 0;
    bool bFound = false;
    const bool bConvert = pNames != nullptr && pNames->Converts();
    const std::string strShownIn = strFolder + "/";
    for (const plat::FindEntry& e : entries) {
        if (!plat::MatchPattern(e.strName.c_str(), "*.stb"))
            continue;
        if (bConvert && !pNames->Shows(e.strName, strShownIn))
            continue;  // a name the STB could not ask for
        const std::string strPath = strFolder + "/" + e.strName;
        plat::Trace("File Path:%s\n", strPath.c_str());
        // A file object of its own: a download in progress in this session survives.
        plat::CPlatFile file;
        if (file.Open(share, strPath, plat::OpenMode::Probe) != 0) {
            plat::Trace("open failed\n");
            continue;
        }
        uint8_t header[kHeaderBytes];
        if (file.ReadAt(0, header, kHeaderBytes) != kHeaderBytes) {
            plat::Trace("Read failed\n");
            continue;
        }
        const uint16_t usFileModel = GetU16BE(header + kModelOffset);
        const uint16_t usFileVersion = GetU16BE(header + kVersionOffset);
        // The first file enumerated wins a tie of versions.
        if (usFileModel == usModel && usFileVersion > usVersion && usFileVersion > usBest) {
            strName = e.strName;
            usBest = usFileVersion;
            bFound = true;
        }
    }
    return bFound;
}

CmdNext HandleModelVerReq(CSess& sess, CXferCtx& ctx)
{
    CPacket& packet = sess.m_Packet;
    if (!packet.EndsWithZero(3))
        return CmdNext::Continue;  // dropped without a line or a reply
    // A tag byte, the model and the version (16 bits each), the rest unused.
    CPayloadReader request(packet);
    const uint8_t ucTag = request.U8();
    const uint16_t usModel = request.U16();
    const uint16_t usVersion = request.U16();
    plat::Trace("%04x %04x %04x %04x %04x\n", ucTag, usModel & 0xFF, usModel >> 8, usVersion & 0xFF, usVersion >> 8);
    plat::Trace("Recv Model[%04x] Ver[%04x]\n", usModel, usVersion);
    std::string strName, strStbName;
    // The folder and the code page are read together, as a path mapping reads them.
    if (SelectShare(sess, ctx) == 0 &&
        FindNewestStbFile(ctx.share.strRoot, usModel, usVersion, strName, sess.Options().bWideLinks, &ctx.names) &&
        ctx.names.ToStb(strName, strStbName) == 0) {
        CPayloadWriter reply(packet);
        if (reply.U8(0) && reply.Path(strStbName)) {
            SendReply(sess, FC_MODEL_VER_REP, reply);
            return CmdNext::Continue;
        }
    }
    // Not found (or a name too long for a frame): three zeros, and the fourth byte as it
    // stood in the request (the version's low byte).
    const uint8_t payload[4] = {0, 0, 0, static_cast<uint8_t>(usVersion)};
    SendReply(sess, FC_MODEL_VER_REP, payload, 4);
    return CmdNext::Continue;
}
