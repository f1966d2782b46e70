// The operations of a soak client: each makes the requests an STB makes for it and
// checks every reply against what the shared folder holds.
#include <chrono>
#include <thread>

#include "bench_conn.h"
#include "net/protocol.h"
#include "net/wire.h"
#include "soak_client.h"
#include "tools/stb_listing.h"
#include "tools/stb_xfer.h"

namespace {

constexpr uint32_t kMostRange = 256 << 10;  // moderate ranges: the daemon paces full frames
constexpr size_t kMostUpload = 512 << 10;
constexpr auto kCopyPoll = std::chrono::milliseconds(5);
constexpr auto kCopyPatience = std::chrono::seconds(30);

const CDataKind kFileData = FileDataKind(false, false);
const CDataKind kDirData = DirDataKind(false);

std::vector<uint8_t> TwoPaths(const std::string& strFrom, const std::string& strTo)
{
    std::vector<uint8_t> payload(1, 0);
    AppendCString(payload, strFrom);
    AppendCString(payload, strTo);
    return payload;
}

// An entry of a directory upload: its type, its size, its name.
std::vector<uint8_t> UpEntry(uint8_t ucType, uint32_t ulSize, const std::string& strName)
{
    std::vector<uint8_t> payload(5);
    payload[0] = ucType;
    PutU32LE(payload.data() + 1, ulSize);
    AppendCString(payload, strName);
    return payload;
}

// An entry of the map, picked at random.
template <class Map>
typename Map::const_iterator PickFrom(const Map& map, std::mt19937_64& rng)
{
    auto it = map.begin();
    std::advance(it, static_cast<long>(rng() % map.size()));
    return it;
}

}  // namespace

bool CSoakClient::Version(CStbConn& conn)
{
    CFrameView reply;
    if (!Ask(conn, FC_VER_REQ, {}, FC_VER_REP, 2, reply))
        return false;
    return IsVerReply(reply) || Failed("the version reply carries another version");
}

bool CSoakClient::Listing(CStbConn& conn)
{
    const auto it = PickFrom(m_Share.listings, m_Rng);
    const std::string& strFolder = it->first;
    CFrameView reply;
    if (!Ask(conn, FC_DIR_REQ, PathPayload(strFolder), FC_DIR_REP, 5, reply))
        return false;
    const uint32_t ulSize = GetU32LE(reply.pPayload + 1);
    if (reply.pPayload[0] != kStatusDone || ulSize == 0)
        return Failed("the listing of " + strFolder + ": status " + std::to_string(reply.pPayload[0]));
    std::vector<uint8_t> bytes;
    if (!Fetch(conn, kFileData, 0, ulSize, bytes))
        return false;
    std::vector<CListEntry> entries;
    std::map<std::string, bool> names;
    if (ParseListing(bytes.data(), bytes.size(), entries))
        for (const CListEntry& e : entries)
            names[e.strName] = e.bDir;
    return names == it->second || Failed("the listing of " + strFolder + " differs");
}

bool CSoakClient::Download(CStbConn& conn)
{
    const auto& [strPath, data] = *PickFrom(m_Share.files, m_Rng);
    const uint8_t ucOpen = m_Rng() % 2 == 0 ? FC_FILE_DN_REQ : FC_FILE_DN_REQ_ALT;
    CFrameView reply;
    if (!Ask(conn, ucOpen, PathPayload(strPath), ReplyByte(ucOpen), 5, reply))
        return false;
    if (reply.pPayload[0] != kStatusDone || GetU32LE(reply.pPayload + 1) != data.size())
        return Failed("the open of " + strPath + ": status " + std::to_string(reply.pPayload[0]));
    for (int nRanges = 1 + static_cast<int>(m_Rng() % 3); nRanges > 0; --nRanges) {
        const size_t nOffset = m_Rng() % data.size();
        const size_t nCount = std::min<size_t>(1 + m_Rng() % kMostRange, data.size() - nOffset);
        std::vector<uint8_t> bytes;
        if (!Fetch(conn, kFileData, nOffset, nCount, bytes))
            return false;
        if (!std::equal(bytes.begin(), bytes.end(), data.begin() + static_cast<long>(nOffset)))
            return Failed("wrong bytes of " + strPath + " at " + std::to_string(nOffset));
    }
    return true;
}

bool CSoakClient::Upload(CStbConn& conn)
{
    const std::string strPath = "/up/" + OwnName() + "_" + std::to_string(m_Rng() % 3) + ".bin";
    const std::vector<uint8_t> data = RandomBytes(kMostUpload);
    const Digest digest = DigestOf(data);
    Possible(strPath).insert({kAbsent, digest});  // until the outcome is known
    std::vector<uint8_t> payload(5);
    PutU32LE(payload.data() + 1, static_cast<uint32_t>(data.size()));
    AppendCString(payload, strPath);
    CFrameView reply;
    if (!Ask(conn, FC_FILE_UP_REQ, payload, FC_FILE_UP_REP, 1, reply))
        return false;
    if (reply.pPayload[0] != kStatusDone)
        return Failed("the upload of " + strPath + ": status " + std::to_string(reply.pPayload[0]));
    if (!SendBlocks(conn, FC_DATA_UP_REQ, FC_DATA_UP_REP, data, strPath))
        return false;
    Possible(strPath) = {digest};
    std::vector<uint8_t> kept;
    return (ReadShared(strPath, kept) && kept == data) || Failed(strPath + " does not hold the bytes sent");
}

bool CSoakClient::Copy(CStbConn& conn)
{
    // One copy per session: every later copy request of the session asks how it goes.
    const auto& [strFrom, source] = *PickFrom(m_Share.files, m_Rng);
    const std::string strTo = "/up/" + OwnName() + "_copy.bin";
    const Digest digest = DigestOf(source);
    Possible(strTo).insert(digest);
    const std::vector<uint8_t> payload = TwoPaths(strFrom, strTo);
    const Clock::time_point tGiveUp = Clock::now() + kCopyPatience;
    CFrameView reply;
    for (;;) {
        if (!Ask(conn, FC_FILE_CPY_REQ, payload, FC_FILE_CPY_REP, 1, reply))
            return false;
        if (reply.pPayload[0] != kStatusRunning)
            break;
        if (Clock::now() > tGiveUp)
            return Failed("the copy of " + strFrom + " still runs after 30 s");
        std::this_thread::sleep_for(kCopyPoll);
    }
    if (reply.pPayload[0] != kStatusDone)
        return Failed("the copy of " + strFrom + ": status " + std::to_string(reply.pPayload[0]));
    Possible(strTo) = {digest};
    std::vector<uint8_t> kept;
    return (ReadShared(strTo, kept) && kept == source) || Failed(strTo + " does not hold the bytes of " + strFrom);
}

bool CSoakClient::DirDownload(CStbConn& conn)
{
    uint64_t ullTotal = 0;
    for (const auto& [strName, pBytes] : m_Share.treeFiles)
        ullTotal += pBytes->size();
    CFrameView reply;
    if (!Ask(conn, FC_DIR_DN_REQ, PathPayload("/tree"), FC_DIR_DN_REP, 13, reply))
        return false;
    const uint32_t ulCount = GetU32LE(reply.pPayload + 1);
    if (reply.pPayload[0] != kStatusDone || ulCount != m_Share.treeFiles.size() + m_Share.treeFolders.size() ||
        GetU64LE(reply.pPayload + 5) != ullTotal)
        return Failed("the tree: status " + std::to_string(reply.pPayload[0]) + ", " + std::to_string(ulCount) +
                      " entries");
    for (uint32_t ulIndex = 0; ulIndex < ulCount; ++ulIndex) {
        if (!Ask(conn, RS_FILE_DN_REQ, U32Payload(ulIndex), RS_FILE_DN_REP, 6, reply, false))
            return false;
        const uint8_t ucStatus = reply.pPayload[0];
        const uint32_t ulSize = GetU32LE(reply.pPayload + 1);
        const std::string strName(reinterpret_cast<const char*>(reply.pPayload + 5), reply.nPayload - 6);
        if (!strName.empty() && strName.back() == '/') {
            const std::string strFolder = strName.substr(0, strName.size() - 1);
            if (ucStatus != kStatusDone || ulSize != 0 || m_Share.treeFolders.count(strFolder) == 0)
                return Failed("the folder entry " + strName);
            continue;
        }
        auto it = m_Share.treeFiles.find(strName);
        if (it == m_Share.treeFiles.end() || ucStatus != kStatusDone || ulSize != it->second->size())
            return Failed("the file entry " + strName);
        std::vector<uint8_t> bytes;
        if (!Fetch(conn, kDirData, 0, ulSize, bytes))
            return false;
        if (bytes != *it->second)
            return Failed("wrong bytes of " + strName);
    }
    return true;
}

bool CSoakClient::DirUpload(CStbConn& conn)
{
    const std::string strTop = OwnName() + "_d";
    const std::pair<std::string, std::vector<uint8_t>> files[] = {{strTop + "/a.bin", RandomBytes(200000)},
                                                                  {strTop + "/sub/b.bin", RandomBytes(100000)}};
    uint64_t ullTotal = 0;
    for (const auto& [strName, data] : files) {
        Possible("/up/" + strName).insert({kAbsent, DigestOf(data)});
        ullTotal += data.size();
    }
    std::vector<uint8_t> payload(13);
    PutU32LE(payload.data() + 1, 4);
    PutU64LE(payload.data() + 5, ullTotal);
    AppendCString(payload, "/up/");
    CFrameView reply;
    if (!Ask(conn, FC_DIR_UP_REQ, payload, FC_DIR_UP_REP, 1, reply))
        return false;
    if (reply.pPayload[0] != kStatusDone)
        return Failed("the directory upload: status " + std::to_string(reply.pPayload[0]));
    for (const std::string& strFolder : {strTop, strTop + "/sub"}) {
        if (!Ask(conn, RS_FILE_UP_REQ, UpEntry(kEntryFolder, 0, strFolder), RS_FILE_UP_REP, 5, reply))
            return false;
        if (reply.pPayload[0] != kStatusDone || GetU32LE(reply.pPayload + 1) != 0)
            return Failed("the folder entry " + strFolder + ": status " + std::to_string(reply.pPayload[0]));
    }
    for (const auto& [strName, data] : files) {
        const uint32_t ulSize = static_cast<uint32_t>(data.size());
        if (!Ask(conn, RS_FILE_UP_REQ, UpEntry(kEntryFile, ulSize, strName), RS_FILE_UP_REP, 5, reply))
            return false;
        if (reply.pPayload[0] != kStatusDone || GetU32LE(reply.pPayload + 1) != ulSize)
            return Failed("the file entry " + strName + ": status " + std::to_string(reply.pPayload[0]));
        if (!SendBlocks(conn, RS_DATA_UP_REQ, RS_DATA_UP_REP, data, strName))
            return false;
        Possible("/up/" + strName) = {DigestOf(data)};
        std::vector<uint8_t> kept;
        if (!ReadShared("/up/" + strName, kept) || kept != data)
            return Failed("/up/" + strName + " does not hold the bytes sent");
    }
    return true;
}
