// Request and reply bytes of the protocol as the STB sends and expects them, named as the
// daemon's command table names them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stb {

// Main loop.
constexpr uint8_t FC_SESS_CLOSE = 0x00;
constexpr uint8_t FC_FILE_DN_REQ = 0x02;          // reply 0xF2 (32-bit size) or 0xD9 (64-bit)
constexpr uint8_t FC_DATA_REQ_SMALL = 0x03;       // data frames 0xF3
constexpr uint8_t FC_DATA_REQ_LARGE = 0x23;       // data frames 0xD3
constexpr uint8_t FC_DIR_REQ = 0x07;              // 0xF7
constexpr uint8_t FC_FILE_DEL_REQ = 0x08;         // 0xF8
constexpr uint8_t FC_MKDIR_REQ = 0x09;            // 0xF9
constexpr uint8_t FC_RMDIR_REQ = 0x0A;            // 0xFA
constexpr uint8_t FC_FILE_CPY_REQ = 0x0B;         // 0xFB
constexpr uint8_t FC_FILE_MOV_REQ = 0x0C;         // 0xFC
constexpr uint8_t FC_FILE_UP_REQ = 0x0D;          // 0xFD
constexpr uint8_t FC_DATA_UP_REQ = 0x0E;          // 0xFE
constexpr uint8_t FC_DISK_SIZE_REQ = 0x0F;        // 0xFF
constexpr uint8_t FC_FILE_SIZE_REQ = 0x10;        // 0xE0
constexpr uint8_t FC_VER_REQ = 0x11;              // 0xE1
constexpr uint8_t FC_MODEL_VER_REQ = 0x12;        // 0xE2
constexpr uint8_t FC_DIR_DN_REQ = 0x13;           // 0xE3, then the directory download loop
constexpr uint8_t FC_DIR_UP_REQ = 0x14;           // 0xE4, then the directory upload loop
constexpr uint8_t FC_BIGFILE_DATA_REQ_LARGE = 0x26;  // data frames 0xD6
constexpr uint8_t FC_BIGFILE_DATA_REQ_SMALL = 0x2A;  // data frames 0xDA
constexpr uint8_t FC_BIGFILE_UP_REQ = 0x27;          // 0xDD
constexpr uint8_t FC_BIGFILE_DATA_UP_REQ = 0x28;     // 0xFE

// Directory download loop.
constexpr uint8_t RS_FILE_DN_REQ = 0x01;     // 0x10 for an entry, 0x03 past the last one
constexpr uint8_t RS_DATA_REQ_SMALL = 0x02;  // data frames 0x20
constexpr uint8_t RS_DATA_REQ_LARGE = 0x24;  // data frames 0xD4
constexpr uint8_t RS_AFTER_MOVE_REQ = 0x19;  // 0xE9

// Directory upload loop.
constexpr uint8_t RS_FILE_UP_REQ = 0x04;  // 0x40
constexpr uint8_t RS_DATA_UP_REQ = 0x05;  // 0x50

constexpr uint8_t kFileDnShort = 0xF2;
constexpr uint8_t kFileDnLong = 0xD9;
constexpr uint8_t kDirReply = 0xF7;
constexpr uint8_t kFileSizeReply = 0xE0;
constexpr uint8_t kVerReply = 0xE1;
constexpr uint8_t kModelVerReply = 0xE2;
constexpr uint8_t kDiskSizeReply = 0xFF;
constexpr uint8_t kUpOpenReply = 0xFD;
constexpr uint8_t kBigUpOpenReply = 0xDD;
constexpr uint8_t kDataUpReply = 0xFE;
constexpr uint8_t kDirDnReply = 0xE3;
constexpr uint8_t kDirUpReply = 0xE4;
constexpr uint8_t kRsEntryReply = 0x10;
constexpr uint8_t kRsEndReply = 0x03;
constexpr uint8_t kRsAfterMoveReply = 0xE9;
constexpr uint8_t kRsFileUpReply = 0x40;
constexpr uint8_t kRsDataUpReply = 0x50;

// The reply of most main-loop requests: the request with its upper four bits inverted.
constexpr uint8_t ReplyOf(uint8_t ucRequest) { return static_cast<uint8_t>(ucRequest ^ 0xF0); }

// Status bytes.
constexpr uint8_t kStatusDone = 0;
constexpr uint8_t kStatusRunning = 2;

// Data bytes per full data frame.
constexpr size_t kSmallBlock = 4096;
constexpr size_t kLargeBlock = 32768;

// Data bytes per upload frame: a whole frame's payload less the offset field.
constexpr size_t kUpBlock32 = 65529;
constexpr size_t kUpBlock64 = 65525;

// Bytes asked for by one data request of a download.
constexpr uint64_t kRangeBytes = 8u << 20;

constexpr uint64_t kMax32 = 0xFFFFFFFFull;

// Entry types of the directory upload.
constexpr uint8_t kEntryFolder = 0x44;  // 'D'
constexpr uint8_t kEntryFile = 0x46;    // 'F'

}  // namespace stb
