// The status as the user reads it: the summary and tooltip name the busiest transfer and
// its progress, the JSON reads back as it was written, the page escapes what a host named,
// and only GET and HEAD are served.
#include <gtest/gtest.h>

#include "app/status/statushtml.h"
#include "app/status/statusjson.h"
#include "app/status/statusmetrics.h"
#include "app/status/statuspage.h"
#include "app/status/statustext.h"

namespace {

CStbStatus Stb(unsigned long ulId, uint32_t ulPeer, StbActivity e, const std::string& strPath, uint64_t ullDone,
               uint64_t ullTotal, uint64_t ullRate)
{
    CStbStatus stb;
    stb.ulId = ulId;
    stb.ulPeerAddr = ulPeer;
    stb.llSince = 1700000000;
    stb.activity.eActivity = e;
    stb.activity.strPath = strPath;
    stb.activity.ullDone = ullDone;
    stb.activity.ullTotal = ullTotal;
    stb.ullRate = ullRate;
    return stb;
}

CStatusSnapshot TwoStbs()
{
    CStatusSnapshot snap;
    snap.llNow = 1700000100;
    snap.llStarted = 1700000000;
    snap.usPort = 2008;
    snap.addresses = {0xC0A80117};  // 192.168.1.23
    snap.stbs.push_back(Stb(1, 0xC0A80128, StbActivity::Downloading, "/movies/rec.ts", 43, 100, 10));
    snap.stbs.push_back(Stb(2, 0xC0A80129, StbActivity::Uploading, "/up/<b>&.ts", 1, 3, 500));
    snap.totals = {1000, 2000, 5, 1, 2};
    snap.events.push_back({1700000050, StatusEventKind::Refused, 0x08080808, "not allowed"});
    return snap;
}

TEST(StatusText, SummaryNamesTheBusiestTransferByItsName)
{
    const CStatusSnapshot snap = TwoStbs();
    EXPECT_EQ(SummaryLine(snap), "2 STBs; receiving <b>&.ts 33 %");
    EXPECT_EQ(TooltipText(snap), "Corvane: 2 STBs, receiving <b>&.ts 33 %");
    EXPECT_EQ(SummaryLine(CStatusSnapshot{}), "0 STBs");
    EXPECT_EQ(ReachLine(0xC0A80117, 2008), "STBs reach this computer at 192.168.1.23 (port 2008)");
}

TEST(StatusText, ProgressNeverReachesAHundredBeforeTheEndNorOverflows)
{
    CActivityView a;
    a.ullTotal = 1000;
    a.ullDone = 999;
    EXPECT_EQ(ProgressPercent(a), 99);
    a.ullDone = 5000;  // more than announced: shown as whole
    EXPECT_EQ(ProgressPercent(a), 100);
    a.ullTotal = UINT64_MAX;
    a.ullDone = UINT64_MAX / 2;
    EXPECT_EQ(ProgressPercent(a), 50);
    a.ullTotal = 0;
    EXPECT_EQ(ProgressPercent(a), -1);
}

TEST(StatusJson, ReadsBackWhatItWrote)
{
    const CStatusSnapshot snap = TwoStbs();
    CStatusSnapshot back;
    ASSERT_EQ(ParseStatusJson(StatusJson(snap), back), 0);
    EXPECT_EQ(StatusText(back), StatusText(snap));
    EXPECT_EQ(back.stbs.size(), 2u);
    EXPECT_EQ(back.stbs[1].activity.strPath, "/up/<b>&.ts");
}

TEST(StatusJson, BadInputIsRefusedNotThrown)
{
    CStatusSnapshot snap;
    for (const char* psz : {"", "[]", "{", "{\"now\":\"x\"}", "{\"now\":1,\"started\":1,\"port\":70000}",
                            "{\"now\":1,\"started\":1,\"port\":1,\"addresses\":[1],\"stbs\":[],\"totals\":{},"
                            "\"events\":[]}"})
        EXPECT_EQ(ParseStatusJson(psz, snap), -1) << psz;
    // A name that is not UTF-8 still gives valid JSON.
    CStatusSnapshot bad = TwoStbs();
    bad.stbs[0].activity.strPath = "/\xff\xfe.ts";
    EXPECT_EQ(ParseStatusJson(StatusJson(bad), snap), 0);
}

TEST(StatusPage, EscapesWhatAHostNamed)
{
    const std::string html = StatusHtml(TwoStbs());
    EXPECT_EQ(html.find("<b>&"), std::string::npos);
    EXPECT_NE(html.find("&lt;b&gt;&amp;.ts"), std::string::npos);
    EXPECT_NE(html.find("<progress max=\"100\" value=\"43\">"), std::string::npos);
}

TEST(StatusPage, OnlyGetAndHeadAreServed)
{
    int nSnapshots = 0;
    auto fn = [&nSnapshots] {
        ++nSnapshots;
        return TwoStbs();
    };
    for (const char* pszMethod : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS", "TRACE", "get"}) {
        const plat::CHttpReply reply = StatusPageReply(pszMethod, "/", fn);
        EXPECT_EQ(reply.nStatus, 405) << pszMethod;
    }
    EXPECT_EQ(nSnapshots, 0);
    EXPECT_EQ(StatusPageReply("GET", "/status.json", fn).strContentType, "application/json");
    EXPECT_EQ(StatusPageReply("HEAD", "/metrics", fn).nStatus, 200);
    EXPECT_EQ(StatusPageReply("GET", "/../etc/passwd", fn).nStatus, 404);
}

TEST(StatusPage, ListenAddressForms)
{
    CStatusListen listen;
    ASSERT_EQ(ParseStatusListen(g_pszDefaultStatusListen, listen), 0);
    EXPECT_EQ(listen.ulAddr, 0x7F000001u);
    EXPECT_EQ(listen.usPort, 2009);
    ASSERT_EQ(ParseStatusListen("off", listen), 0);
    EXPECT_TRUE(listen.bOff);
    for (const char* psz : {"", "127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:080",
                            "localhost:2009", ":2009", "127.0.0.1:20 09", "OFF"})
        EXPECT_EQ(ParseStatusListen(psz, listen), -1) << psz;
}

TEST(StatusMetrics, EveryFamilyIsTypedAndCountersEndInTotal)
{
    const std::string str = StatusMetrics(TwoStbs());
    EXPECT_NE(str.find("corvane_connections_refused_total{reason=\"cap\"} 2\n"), std::string::npos);
    EXPECT_NE(str.find("corvane_sessions 2\n"), std::string::npos);
    size_t nPos = 0;
    while ((nPos = str.find("# TYPE ", nPos)) != std::string::npos) {
        const size_t nEnd = str.find('\n', nPos);
        const std::string strLine = str.substr(nPos, nEnd - nPos);
        if (strLine.ends_with(" counter")) {
            EXPECT_NE(strLine.find("_total "), std::string::npos) << strLine;
        }
        nPos = nEnd;
    }
}

}  // namespace
