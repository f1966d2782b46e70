#include "fs/sizes.h"

#include "app/settings.h"
#include "fs/pathreq.h"
#include "net/payload.h"
#include "net/reply.h"
#include "net/sess.h"
#include "net/xferctx.h"
#include "platform/log.h"
#include "platform/volume.h"

int GetDiskUnits(const std::string& strFolder, uint32_t& ulUnit, uint32_t* pulFree, uint32_t* pulTotal)
{
    plat::VolumeSpace space;
    if (strFolder.empty() || plat::GetVolumeSpace(strFolder, space) != 0) {
        plat::Trace("GetDiskFreeSpace() error !!!\n");
        return -1;
    }
    plat::Trace("spc=%u bps=%u fc=%llu tc=%llu\n", space.ulSectorsPerCluster, space.ulBytesPerSector,
                static_cast<unsigned long long>(space.ullFreeClusters),
                static_cast<unsigned long long>(space.ullTotalClusters));
    const uint64_t ullCluster = static_cast<uint64_t>(space.ulSectorsPerCluster) * space.ulBytesPerSector;
    if (ulUnit == 0)
        ulUnit = static_cast<uint32_t>(ullCluster);
    plat::Trace("u=%u\n", ulUnit);
    if (ulUnit == 0)
        return -1;  // a volume that reports no cluster size has nothing to count in
    // Counts that need more than 32 bits keep their low 32 bits.
    const uint32_t ulFree = static_cast<uint32_t>(ullCluster * space.ullFreeClusters / ulUnit);
    plat::Trace("fu=%u\n", ulFree);
    const uint32_t ulTotal = static_cast<uint32_t>(ullCluster * space.ullTotalClusters / ulUnit);
    plat::Trace("tu=%u\n", ulTotal);
    if (pulFree != nullptr)
        *pulFree = ulFree;
    if (pulTotal != nullptr)
        *pulTotal = ulTotal;
    return 0;
}

CmdNext HandleDiskSizeReq(CSess& sess, CXferCtx&)
{
    plat::Trace("FC_DISK_SIZE_REQ(%lx)\n", sess.Id());
    // The unit asked for, 32 bits; a shorter payload asks for none.
    CPayloadReader request(sess.m_Packet);
    uint32_t ulUnit = request.Left() >= 4 ? request.U32() : 0;
    plat::Trace("u=%u\n", ulUnit);
    uint32_t ulFree = 0, ulTotal = 0;
    if (GetDiskUnits(GetSharedFolder(), ulUnit, &ulFree, &ulTotal) != 0)
        ulUnit = ulFree = ulTotal = 0;
    CPayloadWriter reply(sess.m_Packet);
    reply.U32(ulUnit);
    reply.U32(ulFree);
    reply.U32(ulTotal);
    SendReply(sess, FC_DISK_SIZE_REP, reply);
    return CmdNext::Continue;
}

CmdNext HandleFileSizeReq(CSess& sess, CXferCtx& ctx)
{
    plat::Trace("FC_FILE_SIZE_REQ(%lx)\n", sess.Id());
    const PathReq eReq = TakeTransferPathRequest(sess, ctx, "FC_FILE_SIZE_REQ", FC_FILE_SIZE_REP);
    if (eReq == PathReq::Invalid)
        return CmdNext::Continue;
    ctx.ReleaseEarlier(ErrLine::FileSizeHeldBuffer, ErrLine::FileSizeHeldFile);
    plat::CPlatFile file;
    if (eReq == PathReq::Refused || file.Open(ctx.share, ctx.strPath, plat::OpenMode::Download) != 0) {
        SendStatusU32(sess, FC_FILE_SIZE_REP, kStatusFailed, ctx.nXferSize);
        return CmdNext::Continue;
    }
    const int64_t llLength = file.Length();
    file.Close();
    const uint64_t ullLength = llLength > 0 ? static_cast<uint64_t>(llLength) : 0;
    const SizeWidth width = FileSizeWidth(ullLength);
    ctx.RecordSize(width, ullLength);
    SendStatusSize(sess, FC_FILE_SIZE_REP, kStatusDone, width, ullLength);
    return CmdNext::Continue;
}
