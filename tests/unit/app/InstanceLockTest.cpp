// The single-instance lock between processes and where it lives.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/InstanceLock.h"
#include "support/TempEnvironment.h"

namespace {

namespace fs = std::filesystem;

// Runs a child that takes the lock `name`, reports whether it saw another, and holds it until told.
class CChild {
public:
    explicit CChild(const std::string& name) {
        int up[2], down[2];
        EXPECT_EQ(0, pipe(up));
        EXPECT_EQ(0, pipe(down));
        m_pid = fork();
        if (m_pid == 0) {
            CInstanceLock lock;
            char saw = lock.Acquire(name) ? 'y' : 'n';
            (void)!write(up[1], &saw, 1);
            char c;
            (void)!read(down[0], &c, 1);
            _exit(0);
        }
        close(up[1]);
        close(down[0]);
        m_nDown = down[1];
        char saw = '?';
        EXPECT_EQ(1, read(up[0], &saw, 1));
        close(up[0]);
        m_bSawAnother = saw == 'y';
    }
    ~CChild() { End(); }
    void End() {
        if (m_pid <= 0)
            return;
        // A byte, not end of file: later children inherited this pipe's write end too.
        char go = 'x';
        (void)!write(m_nDown, &go, 1);
        close(m_nDown);
        waitpid(m_pid, nullptr, 0);
        m_pid = 0;
    }
    bool m_bSawAnother = false;

private:
    pid_t m_pid = 0;
    int m_nDown = -1;
};

TEST(InstanceLock, SameNameSeesTheOtherProcessAnotherNameDoesNot) {
    CTempEnvironment env;
    CChild first("velaphon");
    EXPECT_FALSE(first.m_bSawAnother);
    CChild second("velaphon");
    EXPECT_TRUE(second.m_bSawAnother);
    CChild renamed("velaphon2");
    EXPECT_FALSE(renamed.m_bSawAnother);

    // The first goes; the second still runs, so a third still sees one.
    first.End();
    CChild third("velaphon");
    EXPECT_TRUE(third.m_bSawAnother);
    second.End();
    third.End();
    CChild alone("velaphon");
    EXPECT_FALSE(alone.m_bSawAnother);
}

TEST(InstanceLock, ReleasedWithTheObject) {
    CTempEnvironment env;
    {
        CInstanceLock a;
        EXPECT_FALSE(a.Acquire("vp"));
        CInstanceLock b;
        EXPECT_TRUE(b.Acquire("vp"));
    }
    CInstanceLock c;
    EXPECT_FALSE(c.Acquire("vp"));
    EXPECT_FALSE(CInstanceLock().Acquire(""));
    EXPECT_FALSE(CInstanceLock().Acquire("a/b"));
}

TEST(InstanceLock, FolderBesideTheHiveElseRuntimeElsePrivateTemporary) {
    CTempEnvironment env;
    EXPECT_EQ(env.ConfigDir(), CInstanceLock::Folder());
    CInstanceLock lock;
    lock.Acquire("velaphon");
    EXPECT_EQ(env.ConfigDir() + "/velaphon.lock", lock.Path());
    lock.Release();

    env.Unset("VELAPHON_CONFIG_DIR");
    EXPECT_EQ(env.Root() + "/run", CInstanceLock::Folder());

    env.Unset("XDG_RUNTIME_DIR");
    env.Set("TMPDIR", env.Root() + "/tmp");
    fs::create_directories(env.Root() + "/tmp");
    const std::string mine = env.Root() + "/tmp/velaphon-" + std::to_string(getuid());
    EXPECT_EQ(mine, CInstanceLock::Folder());
    struct stat st {};
    ASSERT_EQ(0, stat(mine.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);

    // A folder that others may write to, or a link planted under that name, is not trusted.
    chmod(mine.c_str(), 0777);
    EXPECT_EQ("", CInstanceLock::Folder());
    EXPECT_FALSE(lock.Acquire("velaphon"));
    fs::remove(mine);
    fs::create_directories(env.Root() + "/elsewhere");
    fs::create_directory_symlink(env.Root() + "/elsewhere", mine);
    EXPECT_EQ("", CInstanceLock::Folder());
}

}  // namespace
