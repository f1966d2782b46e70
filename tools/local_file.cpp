#include "tools/local_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/console.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kWriteBuffer = 1u << 20;

std::string SystemText(const std::error_code& ec) { return ec.message(); }

}  // namespace

CLocalFile::CLocalFile() : m_pBuf(new char[kWriteBuffer]) {}

CLocalFile::~CLocalFile() { Abandon(true); }

void CLocalFile::PlanFresh(const std::string& strPath)
{
    m_strPath = strPath;
    m_strWork = strPath + ".part";
    m_bResume = false;
    m_ullOffset = 0;
}

int CLocalFile::PlanResume(const std::string& strPath, uint64_t ullOffset, std::string& strError)
{
    PlanFresh(strPath);
    std::error_code ec;
    if (!fs::exists(m_strWork, ec)) {
        if (!fs::exists(strPath, ec)) {
            if (ullOffset == 0)
                return 0;
            strError = "nothing to resume: neither " + strPath + " nor " + m_strWork + " exists";
            return -1;
        }
        m_strWork = strPath;  // a partial copy under its final name, continued in place
    }
    if (!fs::is_regular_file(m_strWork, ec)) {
        strError = "cannot resume " + m_strWork + ": not a regular file";
        return -1;
    }
    const uintmax_t ullHas = fs::file_size(m_strWork, ec);
    if (ec) {
        strError = "cannot resume " + m_strWork + ": " + SystemText(ec);
        return -1;
    }
    if (ullHas < ullOffset) {
        strError = "cannot resume at offset " + std::to_string(ullOffset) + ": " + m_strWork + " holds only " +
                   std::to_string(ullHas) + " bytes";
        return -1;
    }
    m_bResume = true;
    m_ullOffset = ullOffset;
    return 0;
}

int CLocalFile::Open()
{
    if (m_bResume) {
        std::error_code ec;
        fs::resize_file(m_strWork, m_ullOffset, ec);
        if (ec) {
            m_strError =
                "cannot cut " + m_strWork + " at offset " + std::to_string(m_ullOffset) + ": " + SystemText(ec);
            return -1;
        }
    }
    m_pFile = fopen(m_strWork.c_str(), m_bResume ? "ab" : "wb");
    if (m_pFile == nullptr) {
        m_strError = "cannot write " + m_strWork + ": " + strerror(errno);
        return -1;
    }
    setvbuf(m_pFile, m_pBuf.get(), _IOFBF, kWriteBuffer);
    m_ullSize = m_ullOffset;
    return 0;
}

bool CLocalFile::Write(const uint8_t* pBytes, size_t nCount)
{
    if (m_pFile == nullptr || fwrite(pBytes, 1, nCount, m_pFile) != nCount) {
        m_strError = "cannot write " + m_strWork + ": " + strerror(errno);
        return false;
    }
    m_ullSize += nCount;
    return true;
}

int CLocalFile::Commit()
{
    FILE* pFile = m_pFile;
    m_pFile = nullptr;
    if (pFile == nullptr || fclose(pFile) != 0) {
        m_strError = "cannot write " + m_strWork + ": " + strerror(errno);
        return -1;
    }
    if (m_strWork != m_strPath) {
        std::error_code ec;
        fs::rename(m_strWork, m_strPath, ec);
        if (ec) {
            m_strError = "cannot rename " + m_strWork + " to " + m_strPath + ": " + SystemText(ec);
            return -1;
        }
    }
    return 0;
}

void CLocalFile::Abandon(bool bKeep)
{
    if (m_pFile == nullptr)
        return;
    fclose(m_pFile);
    m_pFile = nullptr;
    if (!m_bResume && (!bKeep || m_ullSize == 0)) {
        std::error_code ec;
        fs::remove(m_strWork, ec);
    }
}

bool CStdoutSink::Write(const uint8_t* pBytes, size_t nCount) { return fwrite(pBytes, 1, nCount, stdout) == nCount; }

std::string CStdoutSink::Error() const { return std::string("cannot write to standard output: ") + strerror(errno); }

int OpenToSend(const std::string& strLocal, FilePtr& pFile, uint64_t& ullSize, std::string& strError)
{
    FILE* p = nullptr;
    std::string strWhy;
    const int rc = plat::OpenLocalForReading(strLocal, &p, ullSize, strWhy);
    pFile.reset(p);
    if (rc == -2)
        strError = "cannot send " + strLocal + ": not a regular file";
    else if (rc != 0)
        strError = "cannot read " + strLocal + ": " + strWhy;
    return rc == 0 ? 0 : -1;
}
