// What the dialog's tests and screenshots feed it: a streaming server that does nothing, and
// a daemon's status with two STBs connected to 192.168.1.23 port 2008, one idle, the other
// fetching a recording, 43 % of it done.
#pragma once

#include "app/corvanedlg.h"
#include "net/statusboard.h"

// A streaming server that the dialog starts and stops without anything happening.
class CNoServer : public IServerControl {
public:
    void Start() override {}
    void Stop() override {}
};

inline CStatusSnapshot TwoStbsSnapshot()
{
    CStatusSnapshot snap;
    snap.llNow = 1765310400;  // a fixed moment, so that the times shown stay the same
    snap.llStarted = snap.llNow - 3600;
    snap.usPort = 2008;
    snap.addresses = {0xC0A80117};  // 192.168.1.23
    CStbStatus fetching;
    fetching.ulId = 1;
    fetching.ulPeerAddr = 0xC0A80128;  // 192.168.1.40
    fetching.llSince = snap.llNow - 11 * 60;
    fetching.activity.eActivity = StbActivity::Downloading;
    fetching.activity.strPath = "/Recordings/rec.ts";
    fetching.activity.ullDone = 1'204'000'000;
    fetching.activity.ullTotal = 2'800'000'000;
    fetching.ullRate = 30'100'000;
    CStbStatus idle;
    idle.ulId = 2;
    idle.ulPeerAddr = 0xC0A80129;  // 192.168.1.41
    idle.llSince = snap.llNow - 2 * 60;
    snap.stbs = {fetching, idle};
    return snap;
}
