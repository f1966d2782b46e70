// The local side of a download. A fresh download is written to "<LOCAL>.part" and renamed
// to LOCAL once every byte has arrived, so LOCAL never looks complete when it is not. A
// resumed download continues a partial file: "<LOCAL>.part" when there is one (renamed at
// the end), else LOCAL itself in place.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "tools/stb_xfer.h"

class CLocalFile : public CByteSink {
public:
    CLocalFile();
    ~CLocalFile() override;
    CLocalFile(const CLocalFile&) = delete;
    CLocalFile& operator=(const CLocalFile&) = delete;

    // A fresh download into strPath.
    void PlanFresh(const std::string& strPath);
    // A download resumed at ullOffset; the file it continues must hold at least that many
    // bytes (anything after them is dropped when it is opened). With no partial file at all,
    // an offset of 0 is a fresh download. 0, or -1 with a message in strError.
    int PlanResume(const std::string& strPath, uint64_t ullOffset, std::string& strError);
    // Creates the work file, or cuts the resumed one at the offset. 0, or -1 (Error()).
    int Open();
    bool Write(const uint8_t* pBytes, size_t nCount) override;
    std::string Error() const override { return m_strError; }
    // Closes the work file and gives it its final name. 0, or -1 (Error()).
    int Commit();
    // Closes after a failure. The work file stays when bKeep and it holds any byte (so the
    // download can be resumed); a resumed file always stays.
    void Abandon(bool bKeep);

    const std::string& WorkPath() const { return m_strWork; }
    // Bytes the work file holds so far.
    uint64_t Size() const { return m_ullSize; }

private:
    std::string m_strPath;
    std::string m_strWork;
    bool m_bResume = false;
    uint64_t m_ullOffset = 0;
    uint64_t m_ullSize = 0;
    FILE* m_pFile = nullptr;
    std::unique_ptr<char[]> m_pBuf;
    std::string m_strError;
};

// The local side of an upload: a regular file opened for reading.
struct CFileCloser {
    void operator()(FILE* p) const { fclose(p); }
};
using FilePtr = std::unique_ptr<FILE, CFileCloser>;
// Opens strLocal to be sent; what is not a regular file (a FIFO, a device) is refused
// without waiting on it. 0 with pFile and ullSize set, or -1 with the message in strError.
int OpenToSend(const std::string& strLocal, FilePtr& pFile, uint64_t& ullSize, std::string& strError);

// Downloaded bytes written to standard output.
class CStdoutSink : public CByteSink {
public:
    bool Write(const uint8_t* pBytes, size_t nCount) override;
    std::string Error() const override;
};
