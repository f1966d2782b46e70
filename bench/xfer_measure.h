// One download or upload of a large file through the real daemon over loopback, as an
// STB makes it. Every frame is checked (sync, length, checksum, offsets, counts) and so
// is the data as a whole, so that a broken transfer fails instead of looking fast.
#pragma once

#include <cstdint>
#include <string>

#include "daemon_proc.h"
#include "upload_blocks.h"

struct XferRun {
    double dSeconds = 0;         // data request (or first block) to the last byte or reply
    uint64_t ullFullFrames = 0;  // data frames that carried a full 32 KiB
    double dDaemonCpu = 0;       // the daemon's user + system seconds over the same span
};

// FC_FILE_DN_REQ of strStbPath (ullSize bytes, byte sum ullSum), then one data request
// for all of it: 0x23 (32-bit offsets, 0xD3 frames) or 0x26 (64-bit, 0xD6 frames).
bool DaemonDownload(const CDaemonProc& daemon, const std::string& strStbPath, uint64_t ullSize, uint64_t ullSum,
                    uint8_t ucRequest, XferRun& run);

// FC_BIGFILE_UP_REQ of strStbPath with ullSize bytes, then FC_BIGFILE_DATA_UP_REQ block
// after block, each reply awaited before the next block goes out.
bool DaemonUpload(const CDaemonProc& daemon, const std::string& strStbPath, const CUploadBlocks& blocks,
                  uint64_t ullSize, XferRun& run);

// True when the file at strLocal holds exactly the upload's blocks.
bool CheckUploaded(const std::string& strLocal, const CUploadBlocks& blocks, uint64_t ullSize);
