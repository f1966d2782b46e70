// bench_soak's side of the wire: the shared folder's seeded part, the counts every client
// adds to, and one STB client that runs a random mix of requests through the client
// library (tools/stb_conn.h), now and then cutting its connection off mid-way.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bench_util.h"
#include "tools/stb_conn.h"

struct CDataKind;

// The operations a client picks from, in the order of the report.
enum class SoakOp { Version, Listing, Download, Upload, Copy, DirDownload, DirUpload };
constexpr size_t kSoakOps = 7;
const char* SoakOpName(SoakOp eOp);

// The part of the shared folder that no client changes: a few files of up to 2 MiB under
// /seed, a small tree under /tree, and the empty folder /up that the uploads go to.
struct CSoakShare {
    std::string strRoot;                                // the shared folder
    std::map<std::string, std::vector<uint8_t>> files;  // STB path -> bytes, every seeded file
    // What a listing of each seeded folder shows: name -> is a folder ("." and ".." too).
    std::map<std::string, std::map<std::string, bool>> listings;
    // The entries of a directory download of /tree, named as it names them ("tree/sub").
    std::map<std::string, const std::vector<uint8_t>*> treeFiles;
    std::set<std::string> treeFolders;

    // Writes the files and folders under strRoot. false, with the reason on standard
    // error, when it cannot.
    bool Seed(const std::string& strRoot, uint64_t ullSeed);
};

// What the clients count, from every thread.
class CSoakStats {
public:
    std::atomic<uint64_t> ullRequests{0};
    std::atomic<uint64_t> ullConnections{0};
    std::atomic<uint64_t> ullConnectRetries{0};
    std::atomic<uint64_t> ullSlowConnects{0};  // taken after more than half a second
    // Connections dropped because their first version exchange went unanswered: their
    // handshake was stuck in the daemon's full listen backlog.
    std::atomic<uint64_t> ullLostHandshakes{0};
    std::array<std::atomic<uint64_t>, kSoakOps> done{};
    std::array<std::atomic<uint64_t>, kSoakOps> cut{};

    // A reply or file that is not what the daemon must give, under what it happened in.
    void Fault(const char* pszWhat, const std::string& strWhy);
    uint64_t Faults() const;
    // The nMost most frequent faults, most frequent first.
    void PrintFaults(FILE* pOut, size_t nMost) const;

private:
    mutable std::mutex m_Mutex;
    std::map<std::string, uint64_t> m_Faults;
};

struct CSoakSettings {
    uint16_t usPort = 0;
    double dCutShare = 0.05;  // the share of operations cut off mid-way
    uint64_t ullSeed = 1;
};

class CSoakClient {
public:
    CSoakClient(int nIndex, const CSoakSettings& settings, const CSoakShare& share, CSoakStats& stats);
    CSoakClient(const CSoakClient&) = delete;
    CSoakClient& operator=(const CSoakClient&) = delete;

    // Runs operations until tEnd.
    void Run(Clock::time_point tEnd);
    // Once the daemon has let go of everything: each file this client wrote holds one of
    // the contents it may hold (nothing, or one whole upload or copy); a fault otherwise.
    void CheckFiles();

private:
    // A 64-bit digest of file contents; kAbsent stands for "no such file".
    using Digest = uint64_t;
    static constexpr Digest kAbsent = 0;
    static Digest DigestOf(const std::vector<uint8_t>& bytes);

    bool RunOp(SoakOp eOp, CStbConn& conn);
    bool Version(CStbConn& conn);
    bool Listing(CStbConn& conn);
    bool Download(CStbConn& conn);
    bool Upload(CStbConn& conn);
    bool Copy(CStbConn& conn);
    bool DirDownload(CStbConn& conn);
    bool DirUpload(CStbConn& conn);

    // The connection the short operations share, renewed after a random number of them
    // and before the daemon's idle time-out; nullptr when it cannot connect.
    CStbConn* MainConn();
    // Connects, and proves the session with a version exchange (see kHandshakeMs).
    bool Connect(CStbConn& conn);
    // Sends a request, unless the cut falls on it: then only part of its frame, or all of
    // it with the reply left unread, and the connection is closed. false when cut or failed.
    bool Send(CStbConn& conn, uint8_t ucCmd, const std::vector<uint8_t>& payload);
    // Send, then the reply, which must carry ucReply and nLength payload bytes (at least
    // that many unless bExact).
    bool Ask(CStbConn& conn, uint8_t ucCmd, const std::vector<uint8_t>& payload, uint8_t ucReply, size_t nLength,
             CFrameView& reply, bool bExact = true);
    // ullCount bytes from ullOffset with the data request of kind (4-byte fields).
    bool Fetch(CStbConn& conn, const CDataKind& kind, uint64_t ullOffset, uint64_t ullCount,
               std::vector<uint8_t>& bytes);
    // The blocks of an upload, each answered with its offset and its whole length.
    bool SendBlocks(CStbConn& conn, uint8_t ucCmd, uint8_t ucReply, const std::vector<uint8_t>& data,
                    const std::string& strName);
    bool Failed(const std::string& strWhy);
    // Reads a file of the shared folder; false when it cannot be read.
    bool ReadShared(const std::string& strStbPath, std::vector<uint8_t>& bytes) const;
    // 1 to nMax bytes of random content.
    std::vector<uint8_t> RandomBytes(size_t nMax);
    // What the file may hold, after the operations so far.
    std::set<Digest>& Possible(const std::string& strPath);
    // The start of this client's file names in the present generation: "c3g0".
    std::string OwnName() const;

    const int m_nIndex;
    const CSoakSettings& m_Settings;
    const CSoakShare& m_Share;
    CSoakStats& m_Stats;
    std::mt19937_64 m_Rng;

    std::unique_ptr<CStbConn> m_pMain;
    int m_nMainOpsLeft = 0;
    Clock::time_point m_tMainUsed;

    int m_nCutAfter = -1;  // requests before the cut; -1: no cut in this operation
    bool m_bCut = false;
    std::string m_strWhy;  // why the operation failed
    // The generation of this client's file names. A session that was cut off may still be
    // abandoning its upload by name when the client is at work again, so after a cut or a
    // fault the client writes under new names.
    int m_nGen = 0;
    // What each file this client wrote may hold.
    std::map<std::string, std::set<Digest>> m_Possible;
};
