// What the suites of copy and move share: the request's payload, the tree a copy or move
// should leave, and a fixture whose session starts one operation and polls it to its end.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "tests/test_files.h"
#include "tests/test_session.h"
#include "tests/test_util.h"

inline constexpr uint8_t kCopy = 11;
inline constexpr uint8_t kMove = 12;

using TreeMap = std::map<std::string, std::string>;

inline std::string OpPayload(const std::string& src, const std::string& dst)
{
    return std::string(1, '\x07') + src + '\0' + dst + '\0';
}

// The tree with the entry `from` and everything below it also found at `to`; without
// bKeep the original entries are gone.
inline TreeMap WithCopy(const TreeMap& tree, const std::string& from, const std::string& to, bool bKeep)
{
    TreeMap out;
    for (const auto& [rel, content] : tree) {
        const bool bBelow = rel == from || rel.rfind(from + "/", 0) == 0;
        if (bBelow)
            out[to + rel.substr(from.size())] = content;
        if (!bBelow || bKeep)
            out[rel] = content;
    }
    return out;
}

class CopyMove : public ::testing::Test {
protected:
    CTempShare share;
    CTestServer server;
    std::unique_ptr<CStbSession> stb;

    void SetUp() override
    {
        share.WriteFile("a.ts", "file a");
        share.WriteFile("dir/keep.txt", "keep");
        share.WriteFile("movies/m1.ts", "movie one");
        share.WriteFile("movies/sub/m2.ts", "movie two");
        NewSession();
    }

    void NewSession() { stb = std::make_unique<CStbSession>(server.Port()); }

    // The status byte of the reply, -1 without a proper reply.
    int Request(uint8_t req, const std::string& payload)
    {
        return stb->Status(req, payload, req == kCopy ? 0xFB : 0xFC);
    }

    int Request(uint8_t req, const std::string& src, const std::string& dst)
    {
        return Request(req, OpPayload(src, dst));
    }

    // Repeats the request on the same connection until the operation no longer runs.
    int Outcome(uint8_t req, const std::string& payload)
    {
        int status = 2;
        EXPECT_TRUE(WaitFor([&] { return (status = Request(req, payload)) != 2; }, 10000)) << "still running";
        return status;
    }

    // Starts the session's operation and returns how it ended. The first reply is 2, or
    // already the outcome when the worker was that quick.
    int Run(uint8_t req, const std::string& src, const std::string& dst)
    {
        const int first = Request(req, src, dst);
        const int last = first == 2 ? Outcome(req, OpPayload(src, dst)) : first;
        EXPECT_TRUE(first == 2 || first == last) << "first reply " << first << ", outcome " << last;
        return last;
    }
};
