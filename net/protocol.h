// The protocol's vocabulary, shared by the daemon and the STB-side client: every request
// byte of the three command loops, every reply byte, the status bytes and the fixed
// numbers an STB relies on. A request is named as the diagnostics name it; where two
// bytes share a name, the second carries a suffix: _SMALL and _LARGE for the data frames
// they ask for, _ALT for the member of a pair that differs only in its reply byte.
#pragma once

#include <cstdint>

// The reply byte of most requests: the request with its upper four bits inverted.
constexpr uint8_t ReplyByte(uint8_t ucRequest) { return static_cast<uint8_t>(ucRequest ^ 0xF0); }

// Main loop: requests, each followed by its reply bytes.
constexpr uint8_t FC_SESS_CLOSE = 0x00;  // no reply: the session ends
constexpr uint8_t FC_FILE_DN_REQ = 0x02;
constexpr uint8_t FC_FILE_DN_REP = ReplyByte(FC_FILE_DN_REQ);  // status, u32 size
constexpr uint8_t FC_FILE_DN_REP_LONG = 0xD9;                 // status, u64 size
constexpr uint8_t FC_FILE_DN_REQ_ALT = 0x22;                  // prints no line of its own
constexpr uint8_t FC_FILE_DN_REP_ALT = ReplyByte(FC_FILE_DN_REQ_ALT);
constexpr uint8_t FC_FILE_DN_REP_ALT_LONG = 0xD5;
constexpr uint8_t FC_DATA_REQ_SMALL = 0x03;
constexpr uint8_t FC_DATA_REP_SMALL = ReplyByte(FC_DATA_REQ_SMALL);  // data frames
constexpr uint8_t FC_DATA_REQ_LARGE = 0x23;
constexpr uint8_t FC_DATA_REP_LARGE = ReplyByte(FC_DATA_REQ_LARGE);
constexpr uint8_t FC_DIR_REQ = 0x07;
constexpr uint8_t FC_DIR_REP = ReplyByte(FC_DIR_REQ);
constexpr uint8_t FC_FILE_DEL_REQ = 0x08;
constexpr uint8_t FC_FILE_DEL_REP = ReplyByte(FC_FILE_DEL_REQ);
constexpr uint8_t FC_MKDIR_REQ = 0x09;
constexpr uint8_t FC_MKDIR_REP = ReplyByte(FC_MKDIR_REQ);
constexpr uint8_t FC_RMDIR_REQ = 0x0A;
constexpr uint8_t FC_RMDIR_REP = ReplyByte(FC_RMDIR_REQ);
constexpr uint8_t FC_FILE_CPY_REQ = 0x0B;
constexpr uint8_t FC_FILE_CPY_REP = ReplyByte(FC_FILE_CPY_REQ);
constexpr uint8_t FC_FILE_MOV_REQ = 0x0C;
constexpr uint8_t FC_FILE_MOV_REP = ReplyByte(FC_FILE_MOV_REQ);
constexpr uint8_t FC_FILE_UP_REQ = 0x0D;
constexpr uint8_t FC_FILE_UP_REP = ReplyByte(FC_FILE_UP_REQ);  // also the reply of FC_BIGFILE_UP_REQ_ALT
constexpr uint8_t FC_FILE_UP_REQ_ALT = 0x2D;
constexpr uint8_t FC_FILE_UP_REP_ALT = ReplyByte(FC_FILE_UP_REQ_ALT);  // also the reply of FC_BIGFILE_UP_REQ
constexpr uint8_t FC_DATA_UP_REQ = 0x0E;
constexpr uint8_t FC_DATA_UP_REP = ReplyByte(FC_DATA_UP_REQ);  // also the reply of both FC_BIGFILE_DATA_UP_REQ
constexpr uint8_t FC_DATA_UP_REQ_ALT = 0x2E;
constexpr uint8_t FC_DATA_UP_REP_ALT = ReplyByte(FC_DATA_UP_REQ_ALT);
constexpr uint8_t FC_DISK_SIZE_REQ = 0x0F;
constexpr uint8_t FC_DISK_SIZE_REP = ReplyByte(FC_DISK_SIZE_REQ);
constexpr uint8_t FC_FILE_SIZE_REQ = 0x10;
constexpr uint8_t FC_FILE_SIZE_REP = ReplyByte(FC_FILE_SIZE_REQ);
constexpr uint8_t FC_VER_REQ = 0x11;
constexpr uint8_t FC_VER_REP = ReplyByte(FC_VER_REQ);
constexpr uint8_t FC_MODEL_VER_REQ = 0x12;  // is there newer ".stb" firmware for the model?
constexpr uint8_t FC_MODEL_VER_REP = ReplyByte(FC_MODEL_VER_REQ);
constexpr uint8_t FC_DIR_DN_REQ = 0x13;  // then the directory download sub-loop
constexpr uint8_t FC_DIR_DN_REP = ReplyByte(FC_DIR_DN_REQ);
constexpr uint8_t FC_DIR_UP_REQ = 0x14;  // then the directory upload sub-loop
constexpr uint8_t FC_DIR_UP_REP = ReplyByte(FC_DIR_UP_REQ);
constexpr uint8_t FC_BIGFILE_DATA_REQ_LARGE = 0x26;
constexpr uint8_t FC_BIGFILE_DATA_REP_LARGE = ReplyByte(FC_BIGFILE_DATA_REQ_LARGE);
constexpr uint8_t FC_BIGFILE_DATA_REQ_SMALL = 0x2A;
constexpr uint8_t FC_BIGFILE_DATA_REP_SMALL = ReplyByte(FC_BIGFILE_DATA_REQ_SMALL);
constexpr uint8_t FC_BIGFILE_UP_REQ = 0x27;      // answered with FC_FILE_UP_REP_ALT
constexpr uint8_t FC_BIGFILE_UP_REQ_ALT = 0x2B;  // answered with FC_FILE_UP_REP
constexpr uint8_t FC_BIGFILE_DATA_UP_REQ = 0x28;      // answered with FC_DATA_UP_REP
constexpr uint8_t FC_BIGFILE_DATA_UP_REQ_ALT = 0x2C;  // the same in every respect

// Directory download sub-loop.
constexpr uint8_t RS_FILE_DN_REQ = 0x01;
constexpr uint8_t RS_FILE_DN_REP = 0x10;      // the entry
constexpr uint8_t RS_FILE_DN_REP_END = 0x03;  // the index lies past the end of the list
constexpr uint8_t RS_DATA_REQ_SMALL = 0x02;
constexpr uint8_t RS_DATA_REP_SMALL = 0x20;
constexpr uint8_t RS_DATA_REQ_LARGE = 0x24;
constexpr uint8_t RS_DATA_REP_LARGE = ReplyByte(RS_DATA_REQ_LARGE);
constexpr uint8_t RS_AFTER_MOVE_REQ = 0x19;
constexpr uint8_t RS_AFTER_MOVE_REP = ReplyByte(RS_AFTER_MOVE_REQ);

// Directory upload sub-loop.
constexpr uint8_t RS_FILE_UP_REQ = 0x04;
constexpr uint8_t RS_FILE_UP_REP = 0x40;
constexpr uint8_t RS_DATA_UP_REQ = 0x05;
constexpr uint8_t RS_DATA_UP_REP = 0x50;

// Status bytes shared by the replies.
constexpr uint8_t kStatusDone = 0;
constexpr uint8_t kStatusFailed = 1;
constexpr uint8_t kStatusRunning = 2;   // a copy or move is still at work
constexpr uint8_t kStatusNoMemory = 3;
constexpr uint8_t kStatusShort = 4;     // read short, or the folder changed while it was listed
constexpr uint8_t kStatusInvalid = 0xFF;
// The status of an RS_FILE_UP_REQ entry.
constexpr uint8_t kStatusNoFolder = 1;  // the folder could not be made
constexpr uint8_t kStatusNoFile = 2;    // the file could not be made

// Entry types of RS_FILE_UP_REQ.
constexpr uint8_t kEntryFolder = 0x44;  // 'D': a folder, when its size is 0
constexpr uint8_t kEntryFile = 0x46;    // 'F'

// The protocol version FC_VER_REQ answers, whatever the release is called: 3, then 4.
constexpr uint8_t kProtocolVersionMajor = 0x03;
constexpr uint8_t kProtocolVersionMinor = 0x04;

// Data bytes of every full data frame: the _SMALL requests and RS_DATA_REQ_SMALL ask for
// small frames, the _LARGE ones for large frames.
constexpr int kSmallBlock = 4096;
constexpr int kLargeBlock = 32768;

// The two widths of sizes and offsets.
enum class SizeWidth { Bits32, Bits64 };

constexpr int WidthBytes(SizeWidth width) { return width == SizeWidth::Bits32 ? 4 : 8; }

// The width in which a file's size is announced (the open of a download, the size query):
// 32 bits from 1 byte to 4 GiB - 1; 64 bits for 0 and for 4 GiB and more.
constexpr SizeWidth FileSizeWidth(uint64_t ullSize)
{
    return ullSize == 0 || ullSize > UINT32_MAX ? SizeWidth::Bits64 : SizeWidth::Bits32;
}
