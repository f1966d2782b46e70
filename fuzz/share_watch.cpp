#include "fuzz/share_watch.h"

#include <algorithm>
#include <cstdlib>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// Every change to what a folder holds: its entries made, removed, renamed, closed after
// being opened for writing (every write comes before such a close, and an input ends
// with its files closed: the writes themselves need no event each), their attributes
// changed. Reading changes nothing here.
constexpr uint32_t kChangeEvents =
    IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;

bool AtOrBelow(const std::string& strPath, const std::string& strFolder)
{
    return strPath == strFolder || strPath.rfind(strFolder + "/", 0) == 0;
}

}  // namespace

CShareWatch::CShareWatch()
{
    m_nNotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_nNotify < 0)
        abort();
}

CShareWatch::~CShareWatch() { close(m_nNotify); }

bool CShareWatch::Watch(const std::string& strRoot, const std::string& strFolder, std::vector<std::string> names)
{
    const int nWatch = inotify_add_watch(m_nNotify, (strRoot + "/" + strFolder).c_str(), kChangeEvents);
    if (nWatch < 0)
        return false;
    std::sort(names.begin(), names.end());
    m_arrFolders.erase(std::remove_if(m_arrFolders.begin(), m_arrFolders.end(),
                                      [&](const CFolder& f) { return f.nWatch == nWatch; }),
                       m_arrFolders.end());
    m_arrFolders.push_back({nWatch, strFolder, std::move(names)});
    return true;
}

void CShareWatch::ForgetTree(const std::string& strFolder)
{
    m_arrFolders.erase(std::remove_if(m_arrFolders.begin(), m_arrFolders.end(),
                                      [&](const CFolder& f) { return AtOrBelow(f.strFolder, strFolder); }),
                       m_arrFolders.end());
}

void CShareWatch::Collect()
{
    alignas(inotify_event) char buf[16384];
    ssize_t n;
    while ((n = read(m_nNotify, buf, sizeof(buf))) > 0) {
        for (ssize_t at = 0; at < n;) {
            const auto* pEvent = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + pEvent->len);
            if ((pEvent->mask & IN_Q_OVERFLOW) != 0) {
                m_bOverflowed = true;
                continue;
            }
            if ((pEvent->mask & kChangeEvents) == 0)
                continue;  // a watch that went with its folder
            const auto it = std::find_if(m_arrFolders.begin(), m_arrFolders.end(),
                                         [&](const CFolder& f) { return f.nWatch == pEvent->wd; });
            if (it == m_arrFolders.end())
                continue;  // a folder no longer watched
            const std::string strName = pEvent->len != 0 ? std::string(pEvent->name) : std::string();
            if (strName.empty())
                m_arrTouched.push_back(it->strFolder);  // the folder itself
            else if (std::binary_search(it->names.begin(), it->names.end(), strName))
                m_arrTouched.push_back(it->strFolder + "/" + strName);
            else
                m_arrNew.push_back(it->strFolder + "/" + strName);
        }
    }
}

void CShareWatch::Forget()
{
    m_bOverflowed = false;
    m_arrTouched.clear();
    m_arrNew.clear();
}
