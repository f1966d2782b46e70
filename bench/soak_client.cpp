#include "soak_client.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bench_conn.h"
#include "bench_files.h"
#include "net/frame.h"
#include "net/protocol.h"
#include "net/wire.h"
#include "tools/stb_xfer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTimeoutMs = 15000;
// The daemon's listen backlog is small. When a crowd overflows it, a handshake can be
// complete on the client's side while the daemon's side waits for a retransmission that
// finds room: the first request is then answered late or never. A new connection proves
// its session with a version exchange answered within kHandshakeMs, or is dropped and made
// again, for up to kConnectPatience; only then is it a fault.
constexpr int kHandshakeMs = 5000;
// The daemon ends a session after 10 s without a frame: the shared connection is renewed
// before that.
constexpr auto kMainIdleLimit = std::chrono::seconds(8);
constexpr int kMainOpsMost = 30;
// SYNs dropped by the full backlog are retried by the system: a connect that takes longer
// than kSlowConnect is counted.
constexpr auto kConnectPatience = std::chrono::seconds(60);
constexpr auto kSlowConnect = std::chrono::milliseconds(500);
constexpr auto kConnectPause = std::chrono::milliseconds(50);

const char* const kOpNames[kSoakOps] = {"version", "listing", "download", "upload", "copy", "dir download",
                                        "dir upload"};
// How often each operation is picked, in the order of SoakOp.
const double kOpWeights[kSoakOps] = {20, 10, 15, 20, 8, 12, 15};

bool WriteFile(const std::string& strPath, const std::vector<uint8_t>& bytes)
{
    std::error_code ec;
    fs::create_directories(fs::path(strPath).parent_path(), ec);
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

const char* SoakOpName(SoakOp eOp) { return kOpNames[static_cast<size_t>(eOp)]; }

bool CSoakShare::Seed(const std::string& strSharedRoot, uint64_t ullSeed)
{
    strRoot = strSharedRoot;
    const std::pair<const char*, size_t> seeded[] = {
        {"/seed/file0.bin", 100 << 10},  {"/seed/file1.bin", 300 << 10},  {"/seed/file2.bin", 700 << 10},
        {"/seed/file3.bin", 1024 << 10}, {"/seed/file4.bin", 2048 << 10}, {"/tree/a.bin", 150000},
        {"/tree/b.txt", 2000},           {"/tree/sub/c.bin", 64000},      {"/tree/sub/deeper/d.bin", 5},
        {"/tree/sub/deeper/e.bin", 33000}, {"/tree/z/f.bin", 1},
    };
    uint64_t ullFill = ullSeed << 8;
    for (const auto& [pszPath, nSize] : seeded) {
        std::vector<uint8_t>& bytes = files[pszPath];
        bytes.resize(nSize);
        FillPattern(bytes.data(), nSize, ++ullFill);
        if (!WriteFile(strRoot + pszPath, bytes))
            return Fail("bench_soak", std::string("cannot write ") + strRoot + pszPath);
    }
    std::error_code ec;
    if (!fs::create_directories(strRoot + "/tree/empty", ec) || !fs::create_directories(strRoot + "/up", ec))
        return Fail("bench_soak", "cannot make the folders of " + strRoot);

    for (const char* pszFolder : {"/seed", "/tree", "/tree/sub", "/tree/sub/deeper"}) {
        std::map<std::string, bool>& names = listings[pszFolder];
        names = {{".", true}, {"..", true}};
        for (const fs::directory_entry& e : fs::directory_iterator(strRoot + pszFolder, ec))
            names[e.path().filename().string()] = e.is_directory(ec);
    }
    // A directory download names its entries from the folder's own name on.
    for (const auto& [strPath, bytes] : files) {
        if (strPath.rfind("/tree/", 0) != 0)
            continue;
        const std::string strName = strPath.substr(1);
        treeFiles[strName] = &bytes;
        treeFolders.insert(strName.substr(0, strName.rfind('/')));
    }
    treeFolders.insert("tree/empty");
    return !ec || Fail("bench_soak", "cannot list " + strRoot + ": " + ec.message());
}

void CSoakStats::Fault(const char* pszWhat, const std::string& strWhy)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    ++m_Faults[std::string(pszWhat) + ": " + strWhy];
}

uint64_t CSoakStats::Faults() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    uint64_t ullCount = 0;
    for (const auto& [strWhy, ullTimes] : m_Faults)
        ullCount += ullTimes;
    return ullCount;
}

void CSoakStats::PrintFaults(FILE* pOut, size_t nMost) const
{
    std::vector<std::pair<uint64_t, std::string>> sorted;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        for (const auto& [strWhy, ullTimes] : m_Faults)
            sorted.emplace_back(ullTimes, strWhy);
    }
    std::sort(sorted.rbegin(), sorted.rend());
    sorted.resize(std::min(sorted.size(), nMost));
    for (const auto& [ullTimes, strWhy] : sorted)
        fprintf(pOut, "  %5llu  %s\n", static_cast<unsigned long long>(ullTimes), strWhy.c_str());
}

CSoakClient::CSoakClient(int nIndex, const CSoakSettings& settings, const CSoakShare& share, CSoakStats& stats)
    : m_nIndex(nIndex), m_Settings(settings), m_Share(share), m_Stats(stats),
      m_Rng(settings.ullSeed * 1000003 + static_cast<uint64_t>(nIndex))
{
}

CSoakClient::Digest CSoakClient::DigestOf(const std::vector<uint8_t>& bytes)
{
    uint64_t ullHash = 0xCBF29CE484222325ULL;  // FNV-1a
    for (uint8_t b : bytes)
        ullHash = (ullHash ^ b) * 0x100000001B3ULL;
    return ullHash == kAbsent ? 1 : ullHash;
}

void CSoakClient::Run(Clock::time_point tEnd)
{
    std::discrete_distribution<size_t> pick(std::begin(kOpWeights), std::end(kOpWeights));
    std::uniform_real_distribution<double> share(0, 1);
    while (Clock::now() < tEnd) {
        const SoakOp eOp = static_cast<SoakOp>(pick(m_Rng));
        m_nCutAfter = share(m_Rng) < m_Settings.dCutShare ? static_cast<int>(m_Rng() % 7) : -1;
        m_bCut = false;
        m_strWhy.clear();
        // The short operations share one connection; the cut ones and the transactions
        // have one of their own.
        const bool bMain = eOp <= SoakOp::Upload && m_nCutAfter < 0;
        CStbConn own;
        CStbConn* pConn = bMain ? MainConn() : (Connect(own) ? &own : nullptr);
        const bool bDone = pConn != nullptr && RunOp(eOp, *pConn);
        const size_t nOp = static_cast<size_t>(eOp);
        if (bDone) {
            ++m_Stats.done[nOp];
            if (bMain)
                m_tMainUsed = Clock::now();
            continue;
        }
        ++m_nGen;
        if (m_bCut) {
            ++m_Stats.cut[nOp];
            continue;
        }
        m_Stats.Fault(SoakOpName(eOp), m_strWhy);
        if (bMain)
            m_pMain.reset();
    }
    if (m_pMain)
        m_pMain->Close(true);
}

bool CSoakClient::RunOp(SoakOp eOp, CStbConn& conn)
{
    switch (eOp) {
    case SoakOp::Version:
        return Version(conn);
    case SoakOp::Listing:
        return Listing(conn);
    case SoakOp::Download:
        return Download(conn);
    case SoakOp::Upload:
        return Upload(conn);
    case SoakOp::Copy:
        return Copy(conn);
    case SoakOp::DirDownload:
        return DirDownload(conn);
    case SoakOp::DirUpload:
        return DirUpload(conn);
    }
    return Failed("no such operation");
}

CStbConn* CSoakClient::MainConn()
{
    if (m_pMain && (m_nMainOpsLeft <= 0 || Clock::now() - m_tMainUsed > kMainIdleLimit)) {
        m_pMain->Close(m_nMainOpsLeft <= 0);
        m_pMain.reset();
    }
    if (!m_pMain) {
        m_pMain = std::make_unique<CStbConn>();
        if (!Connect(*m_pMain)) {
            m_pMain.reset();
            return nullptr;
        }
        m_nMainOpsLeft = 1 + static_cast<int>(m_Rng() % kMainOpsMost);
    }
    --m_nMainOpsLeft;
    return m_pMain.get();
}

bool CSoakClient::Connect(CStbConn& conn)
{
    const Clock::time_point tGiveUp = Clock::now() + kConnectPatience;
    for (;;) {
        const Clock::time_point tStart = Clock::now();
        if (conn.Connect("127.0.0.1", m_Settings.usPort, kHandshakeMs) == 0) {
            ++m_Stats.ullConnections;
            if (Clock::now() - tStart > kSlowConnect)
                ++m_Stats.ullSlowConnects;
            CFrameView reply;
            if (conn.Send(FC_VER_REQ, nullptr, 0) == 0 && conn.Receive(reply) == 0) {
                if (!IsVerReply(reply))
                    return Failed("the first version exchange of a connection: reply " + HexByte(reply.ucCommand));
                conn.SetTimeout(kTimeoutMs);
                ++m_Stats.ullRequests;
                return true;
            }
            ++m_Stats.ullLostHandshakes;
            conn.Close(false);
        } else {
            ++m_Stats.ullConnectRetries;
        }
        if (Clock::now() > tGiveUp)
            return Failed("no session within a minute: " + conn.Error());
        std::this_thread::sleep_for(kConnectPause);
    }
}

bool CSoakClient::Failed(const std::string& strWhy)
{
    m_strWhy = strWhy;
    return false;
}

bool CSoakClient::Send(CStbConn& conn, uint8_t ucCmd, const std::vector<uint8_t>& payload)
{
    if (m_nCutAfter == 0) {
        std::vector<uint8_t> frame(payload.size() + kFrameOverhead);
        if (!payload.empty())
            memcpy(frame.data() + kPayloadOffset, payload.data(), payload.size());
        const size_t nSize = SealFrame(frame.data(), ucCmd, payload.size());
        const size_t nSent = m_Rng() % 2 == 0 ? nSize : 1 + m_Rng() % (nSize - 1);
        conn.SendFrame(frame.data(), nSent);  // the daemon may already have closed its end
        conn.Close(false);
        m_bCut = true;
        return false;
    }
    if (m_nCutAfter > 0)
        --m_nCutAfter;
    return conn.Send(ucCmd, payload.data(), payload.size()) == 0 || Failed(conn.Error());
}

bool CSoakClient::Ask(CStbConn& conn, uint8_t ucCmd, const std::vector<uint8_t>& payload, uint8_t ucReply,
                      size_t nLength, CFrameView& reply, bool bExact)
{
    if (!Send(conn, ucCmd, payload))
        return false;
    if (conn.Receive(reply) != 0)
        return Failed(conn.Error());
    if (reply.ucCommand != ucReply || (bExact ? reply.nPayload != nLength : reply.nPayload < nLength))
        return Failed("request " + HexByte(ucCmd) + ": reply " + HexByte(reply.ucCommand) + " of " +
                      std::to_string(reply.nPayload) + " bytes, expected " + HexByte(ucReply) + " of " +
                      std::to_string(nLength));
    ++m_Stats.ullRequests;
    return true;
}

bool CSoakClient::Fetch(CStbConn& conn, const CDataKind& kind, uint64_t ullOffset, uint64_t ullCount,
                        std::vector<uint8_t>& bytes)
{
    if (m_nCutAfter == 0) {  // the cut falls on the data request: Send makes it
        std::vector<uint8_t> payload(8);
        PutU32LE(payload.data(), static_cast<uint32_t>(ullOffset));
        PutU32LE(payload.data() + 4, static_cast<uint32_t>(ullCount));
        return Send(conn, kind.ucRequest, payload);
    }
    if (m_nCutAfter > 0)
        --m_nCutAfter;
    CMemSink sink;
    std::string strWhy;
    if (FetchRange(conn, kind, ullOffset, ullCount, sink, nullptr, strWhy) != XferResult::Done)
        return Failed(strWhy);
    ++m_Stats.ullRequests;
    bytes = sink.Bytes();
    return true;
}

bool CSoakClient::SendBlocks(CStbConn& conn, uint8_t ucCmd, uint8_t ucReply, const std::vector<uint8_t>& data,
                             const std::string& strName)
{
    for (size_t nAt = 0; nAt < data.size(); nAt += kUpBlock32) {
        const size_t nBlock = std::min(kUpBlock32, data.size() - nAt);
        std::vector<uint8_t> payload(4 + nBlock);
        PutU32LE(payload.data(), static_cast<uint32_t>(nAt));
        memcpy(payload.data() + 4, data.data() + nAt, nBlock);
        CFrameView reply;
        if (!Ask(conn, ucCmd, payload, ucReply, 8, reply))
            return false;
        if (GetU32LE(reply.pPayload) != nAt || GetU32LE(reply.pPayload + 4) != nBlock)
            return Failed("the block of " + strName + " at " + std::to_string(nAt) + " was not taken whole");
    }
    return true;
}

bool CSoakClient::ReadShared(const std::string& strStbPath, std::vector<uint8_t>& bytes) const
{
    std::ifstream in(m_Share.strRoot + strStbPath, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::vector<uint8_t> CSoakClient::RandomBytes(size_t nMax)
{
    std::vector<uint8_t> bytes(1 + m_Rng() % nMax);
    FillPattern(bytes.data(), bytes.size(), m_Rng());
    return bytes;
}

std::set<CSoakClient::Digest>& CSoakClient::Possible(const std::string& strPath)
{
    // A file this client has not written yet is not there.
    return m_Possible.try_emplace(strPath, std::set<Digest>{kAbsent}).first->second;
}

std::string CSoakClient::OwnName() const
{
    std::string strName = "c";
    strName += std::to_string(m_nIndex);
    strName += 'g';
    strName += std::to_string(m_nGen);
    return strName;
}

void CSoakClient::CheckFiles()
{
    for (const auto& [strPath, possible] : m_Possible) {
        std::vector<uint8_t> bytes;
        const bool bThere = ReadShared(strPath, bytes);
        if (possible.count(bThere ? DigestOf(bytes) : kAbsent) != 0)
            continue;
        if (bThere)
            m_Stats.Fault("files", strPath + " holds " + std::to_string(bytes.size()) + " bytes of no whole upload or copy");
        else
            m_Stats.Fault("files", strPath + " is missing after its upload or copy was done");
    }
}
