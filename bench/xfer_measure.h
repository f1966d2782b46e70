// One download or upload of a large file over loopback, as an STB makes it, through the
// client library. Every frame is checked (sync, length, checksum, offsets, counts) and so
// is the data as a whole, so that a broken transfer fails instead of looking fast.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "bench_daemon.h"
#include "upload_blocks.h"

struct XferRun {
    double dSeconds = 0;         // data request (or first block) to the last byte or reply
    uint64_t ullFullFrames = 0;  // data frames that carried a full 32 KiB
    double dServerCpu = 0;       // the server's user + system seconds over the same span
    double dClientCpu = 0;       // and ours, the measuring side's
    double dLastReply = 0;       // an upload's last block sent to its reply, in seconds
};

// FC_FILE_DN_REQ of strStbPath (ullSize bytes, byte sum ullSum), then one data request
// for all of it: FC_DATA_REQ_LARGE (32-bit offsets) or FC_BIGFILE_DATA_REQ_LARGE (64-bit).
// fnOpened, when given, is called once the file is open, before the data request (many
// downloads wait there for each other, so that their streams run side by side).
bool DaemonDownload(const CBenchDaemon& daemon, const std::string& strStbPath, uint64_t ullSize, uint64_t ullSum,
                    uint8_t ucRequest, XferRun& run, const std::function<void()>& fnOpened = nullptr);

// FC_BIGFILE_UP_REQ of strStbPath with ullSize bytes, then FC_BIGFILE_DATA_UP_REQ block
// after block, each reply awaited before the next block goes out. The server is the
// daemon or the floor server: both are sent the very same frames.
bool Upload(const CBenchDaemon& server, const std::string& strStbPath, CUploadBlocks& blocks, uint64_t ullSize,
            XferRun& run);

// True when the file at strLocal holds exactly the upload's blocks.
bool CheckUploaded(const std::string& strLocal, const CUploadBlocks& blocks, uint64_t ullSize);
