// Folder listings: FC_DIR_REQ, then the listing's bytes with FC_DATA_REQ.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/stb_args.h"

class CStbConn;

struct CListEntry {
    std::string strName;
    bool bDir = false;
};

// Asks for the folder's listing. The reply's status goes to ucStatus; with status 0 the
// entries follow in the daemon's order ("." and ".." included). 0 when the exchange went
// through (whatever the status), else the exit status after the message.
int FetchListing(const CStbOptions& opt, CStbConn& conn, const std::string& strPath, std::vector<CListEntry>& entries,
                 uint8_t& ucStatus);

// Connects as the options say, then FetchListing.
int ConnectAndFetchListing(const CStbOptions& opt, CStbConn& conn, const std::string& strPath,
                           std::vector<CListEntry>& entries, uint8_t& ucStatus);

// Splits listing bytes into entries: a flag byte (1 for a folder), the name, a 0 byte.
// False when the bytes do not end on a whole record.
bool ParseListing(const uint8_t* pBytes, size_t nCount, std::vector<CListEntry>& entries);
