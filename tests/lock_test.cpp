// The single-instance lock lives only in a folder no other user can write in, and a
// lock file planted there by someone else stops the start instead of being used.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/instance.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;

// True when only its owner, this user, may write in the folder.
bool PrivateFolder(const std::string& strDir)
{
    struct stat st;
    return stat(strDir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string Folder(const std::string& strPath) { return fs::path(strPath).parent_path().string(); }

}  // namespace

TEST(InstanceGuard, NeverInAFolderOthersCanWrite)
{
    enum class Runtime { Private, Unset, OpenToAll };
    struct Case {
        const char* pszWhat;
        Runtime eRuntime;
    };
    const Case cases[] = {
        {"a private runtime folder", Runtime::Private},
        {"no runtime folder", Runtime::Unset},
        {"a runtime folder others may write in", Runtime::OpenToAll},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CTempShare share;
        const std::string strRun = share.Root() + "/run";
        chmod(strRun.c_str(), c.eRuntime == Runtime::OpenToAll ? 0777 : 0700);
        if (c.eRuntime == Runtime::Unset)
            unsetenv("XDG_RUNTIME_DIR");  // the destructor puts it back
        const std::string strLock = plat::InstanceGuardPath("CORVANE-test");
        ASSERT_FALSE(strLock.empty());
        EXPECT_EQ(fs::path(strLock).filename(), "CORVANE-test.lock");
        EXPECT_NE(Folder(strLock), "/tmp");
        EXPECT_TRUE(PrivateFolder(Folder(strLock))) << strLock;
        EXPECT_EQ(Folder(strLock) == strRun, c.eRuntime == Runtime::Private) << strLock;
        if (c.eRuntime != Runtime::Private && !PrivateFolder("/run/user/" + std::to_string(getuid()))) {
            EXPECT_EQ(Folder(strLock), share.Root() + "/cfg/Corvane");
        }
        EXPECT_EQ(plat::AcquireInstanceGuard("CORVANE-test"), 1);
        EXPECT_TRUE(fs::is_regular_file(strLock));
        EXPECT_EQ(plat::AcquireInstanceGuard("CORVANE-test"), 0);  // held
    }
}

TEST(InstanceGuard, PlantedLockFileStopsTheStart)
{
    enum class Plant { Link, OtherUsersFile };
    for (Plant ePlant : {Plant::Link, Plant::OtherUsersFile}) {
        SCOPED_TRACE(ePlant == Plant::Link ? "a link" : "another user's file");
        if (ePlant == Plant::OtherUsersFile && geteuid() != 0)
            continue;  // a file of another user needs root to make
        CTempShare share;
        const std::string strLock = share.Root() + "/run/CORVANE-test.lock";
        const std::string strTarget = share.Path("victim");
        share.WriteFile("victim", "keep");
        if (ePlant == Plant::Link) {
            fs::create_symlink(strTarget, strLock);
        } else {
            WriteLocalFile(strLock, "");
            ASSERT_EQ(chown(strLock.c_str(), 65534, 65534), 0);
        }
        ASSERT_EQ(plat::InstanceGuardPath("CORVANE-test"), strLock);
        testing::internal::CaptureStderr();
        EXPECT_EQ(plat::AcquireInstanceGuard("CORVANE-test"), 0);
        const std::string strErr = testing::internal::GetCapturedStderr();
        EXPECT_NE(strErr.find(strLock), std::string::npos) << strErr;
        EXPECT_NE(strErr.find("not starting"), std::string::npos) << strErr;
        EXPECT_EQ(ReadLocalFile(strTarget), "keep");
    }
}
