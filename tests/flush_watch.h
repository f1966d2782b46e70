// The flushes the platform layer makes while a watch lives (plat::SetFlushObserver): how
// many of each kind, and how many came when the session had already sent bytes the STB
// had not read, which would be a reply sent before its data was on the disk.
#pragma once

#include <atomic>

#include "platform/flush.h"
#include "tests/test_session.h"

class CFlushWatch {
public:
    explicit CFlushWatch(const CStbSession& client) : m_Client(client)
    {
        plat::SetFlushObserver(&CFlushWatch::Observe, this);
    }
    ~CFlushWatch() { plat::SetFlushObserver(nullptr, nullptr); }
    CFlushWatch(const CFlushWatch&) = delete;
    CFlushWatch& operator=(const CFlushWatch&) = delete;

    int Files() const { return m_nFiles.load(); }
    int Folders() const { return m_nFolders.load(); }
    int Volumes() const { return m_nVolumes.load(); }
    int AfterAReply() const { return m_nAfterReply.load(); }

private:
    static void Observe(plat::FlushKind eKind, void* pContext)
    {
        CFlushWatch& watch = *static_cast<CFlushWatch*>(pContext);
        (eKind == plat::FlushKind::File     ? watch.m_nFiles
         : eKind == plat::FlushKind::Folder ? watch.m_nFolders
                                            : watch.m_nVolumes)++;
        if (watch.m_Client.Unread() != 0)
            ++watch.m_nAfterReply;
    }

    const CStbSession& m_Client;
    std::atomic<int> m_nFiles{0}, m_nFolders{0}, m_nVolumes{0}, m_nAfterReply{0};
};
