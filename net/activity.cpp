#include "net/activity.h"

const char* ActivityName(StbActivity eActivity)
{
    switch (eActivity) {
    case StbActivity::Idle:
        return "idle";
    case StbActivity::Listing:
        return "listing";
    case StbActivity::Downloading:
        return "downloading";
    case StbActivity::Uploading:
        return "uploading";
    case StbActivity::DirDownload:
        return "directory download";
    case StbActivity::DirUpload:
        return "directory upload";
    case StbActivity::Copying:
        return "copy";
    case StbActivity::Moving:
        return "move";
    }
    return "idle";
}

void CSessActivity::Begin(StbActivity eActivity, std::string_view strPath, uint64_t ullTotal)
{
    {
        std::lock_guard<std::mutex> lock(m_PathLock);
        m_strPath.assign(strPath);
    }
    m_ullDone.store(0, std::memory_order_relaxed);
    m_ullTotal.store(ullTotal, std::memory_order_relaxed);
    m_eActivity.store(eActivity, std::memory_order_release);
}

CActivityView CSessActivity::Read() const
{
    CActivityView view;
    view.eActivity = m_eActivity.load(std::memory_order_acquire);
    {
        std::lock_guard<std::mutex> lock(m_PathLock);
        view.strPath = m_strPath;
    }
    view.ullDone = m_ullDone.load(std::memory_order_relaxed);
    view.ullTotal = m_ullTotal.load(std::memory_order_relaxed);
    view.ullSent = m_ullSent.load(std::memory_order_relaxed);
    view.ullReceived = m_ullReceived.load(std::memory_order_relaxed);
    return view;
}
