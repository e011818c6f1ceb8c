// The hive-backed registry: keys and typed values, damaged files, and saves that survive being killed
// or racing another process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/HiveFile.h"
#include "platform/Registry.h"
#include "settings/RegistryKey.h"
#include "settings/Settings.h"
#include "support/TempEnvironment.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> DamagedCopies(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().filename().string().find(".damaged-") != std::string::npos)
            out.push_back(e.path());
    return out;
}

TEST(Registry, KeysValuesAndTypes) {
    CTempEnvironment env;
    CRegistryKey key;
    EXPECT_FALSE(key.SetKey("Software\\Velaphon\\Settings", false));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.m_nLastError);
    EXPECT_FALSE(fs::exists(env.HivePath()));  // looking creates nothing

    ASSERT_TRUE(key.SetKey("Software\\Velaphon\\Settings", true));
    EXPECT_EQ(0, key.ValueCount());
    EXPECT_TRUE(key.WriteString("Host", "vp.example.org"));
    EXPECT_TRUE(key.WriteNumber("Port", 443));
    EXPECT_EQ(2, key.ValueCount());
    EXPECT_EQ(REG_SZ, key.ValueType("Host"));
    EXPECT_EQ(REG_BINARY, key.ValueType("Port"));
    EXPECT_EQ(0u, key.ValueType("Missing"));
    EXPECT_EQ("vp.example.org", key.ReadString("host", "x"));  // names ignore letter case
    EXPECT_EQ(443, key.ReadNumber("Port", 0));
    EXPECT_EQ(7, key.ReadNumber("Missing", 7));
    EXPECT_EQ("dflt", key.ReadString("Port", "dflt"));  // a number is no text
    // A number is the first 4 bytes whatever the type: here the text's.
    EXPECT_EQ(0x652e7076, key.ReadNumber("Host", 0));

    EXPECT_TRUE(key.DeleteValue("Host"));
    EXPECT_FALSE(key.DeleteValue("Host"));
    EXPECT_EQ(1, key.ValueCount());

    // A parent exists through its child; a sibling does not.
    CRegistryKey parent;
    EXPECT_TRUE(parent.SetKey("Software\\Velaphon", false));
    EXPECT_FALSE(parent.SetKey("Software\\Other", false));
    EXPECT_EQ("Software\\Velaphon", parent.m_strKey);  // a failed open keeps the key it had
}

TEST(Registry, TextsAtTheLengthLimit) {
    CTempEnvironment env;
    CRegistryKey key;
    ASSERT_TRUE(key.SetKey("K", true));
    EXPECT_TRUE(key.WriteString("a", std::string(254, 'x')));
    EXPECT_EQ(std::string(254, 'x'), key.ReadString("a", ""));
    EXPECT_FALSE(key.WriteString("b", std::string(255, 'x')));
    EXPECT_EQ(0u, key.ValueType("b"));
    // Written by someone else, a longer text is refused on reading.
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueData(HKEY_CURRENT_USER, "K", "c", REG_SZ, std::vector<uint8_t>(256, 'y')));
    EXPECT_EQ("dflt", key.ReadString("c", "dflt"));
    EXPECT_FALSE(key.WriteString("d", std::string(255, 'x')));
}

TEST(Registry, OtherRootsAreAcceptedButHoldNothing) {
    CTempEnvironment env;
    CRegistryKey key;
    EXPECT_FALSE(key.SetRoot(reinterpret_cast<HKEY>(uintptr_t{0x80000005})));
    EXPECT_TRUE(key.SetRoot(HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(key.SetKey("Software", false));
    EXPECT_FALSE(key.SetKey("Software", true));
    EXPECT_EQ(ERROR_ACCESS_DENIED, key.m_nLastError);
    EXPECT_FALSE(fs::exists(env.HivePath()));
}

TEST(Registry, KeyNamesTheFileCannotCarryAreRefused) {
    CTempEnvironment env;
    CRegistryKey key;
    EXPECT_FALSE(key.SetKey("Bad]Name", true));
    EXPECT_FALSE(key.SetKey("Bad\nName", true));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.m_nLastError);
    // Value names and texts of any bytes are escaped instead.
    ASSERT_TRUE(key.SetKey("Good", true));
    EXPECT_TRUE(key.WriteString("odd \"name\"\n]", "text\r\n\"[x]\""));
    EXPECT_EQ("text\r\n\"[x]\"", key.ReadString("odd \"name\"\n]", ""));
    CHiveData d;
    EXPECT_EQ(CHiveFile::EState::Ok, CHiveFile(env.HivePath()).Read(d));
}

TEST(Registry, HiveIsPrivateToTheUser) {
    CTempEnvironment env;
    CRegistryKey key;
    ASSERT_TRUE(key.SetKey("K", true));
    ASSERT_TRUE(key.WriteString("UserPassword", "secret"));
    struct stat st {};
    ASSERT_EQ(0, stat(env.HivePath().c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    ASSERT_EQ(0, stat(env.ConfigDir().c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
}

TEST(Registry, DamagedHiveCountsAsAbsentAndIsKeptAsideBeforeAWrite) {
    CTempEnvironment env;
    const std::string garbage = "[Software\\Velaphon\\Settings]\n\"UserNtv\"=text:\"55500";  // cut short
    WriteAll(env.HivePath(), garbage);

    CRegistryKey key;
    EXPECT_FALSE(key.SetKey(CSettings::kKey, false));  // as on a first run
    EXPECT_EQ(garbage, ReadAll(env.HivePath()));       // reading leaves it alone
    EXPECT_TRUE(DamagedCopies(env.ConfigDir()).empty());

    CSettings s;
    s.SetUser("5550002", "pw");
    ASSERT_TRUE(s.Save());
    auto copies = DamagedCopies(env.ConfigDir());
    ASSERT_EQ(1u, copies.size());
    EXPECT_EQ(garbage, ReadAll(copies[0]));
    CSettings back;
    back.Load();
    EXPECT_EQ("5550002", back.GetNtv());

    // A second damage keeps both copies.
    WriteAll(env.HivePath(), "nonsense");
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(2u, DamagedCopies(env.ConfigDir()).size());
}

TEST(Registry, UnreadableHiveIsNotOverwritten) {
    CTempEnvironment env;
    // A folder where the hive should be: it can be neither read nor moved over; nothing is written.
    fs::create_directories(env.HivePath());
    CRegistryKey key;
    EXPECT_FALSE(key.SetKey("K", false));
    CSettings s;
    s.SetUser("1", "2");
    EXPECT_TRUE(s.Save());  // moved aside, then written
    EXPECT_EQ(1u, DamagedCopies(env.ConfigDir()).size());
    EXPECT_TRUE(fs::is_regular_file(env.HivePath()));

    // When the folder itself cannot be changed, the save fails instead of losing the old file.
    if (geteuid() != 0) {
        WriteAll(env.HivePath(), "broken");
        chmod(env.ConfigDir().c_str(), 0500);
        EXPECT_FALSE(s.Save());
        chmod(env.ConfigDir().c_str(), 0700);
        EXPECT_EQ("broken", ReadAll(env.HivePath()));
    }
}

TEST(Registry, HugeFileIsDamaged) {
    CTempEnvironment env;
    WriteAll(env.HivePath(), "[K]\n; " + std::string(CHiveFile::kMaxSize, 'x') + "\n");
    CHiveData d;
    EXPECT_EQ(CHiveFile::EState::Damaged, CHiveFile(env.HivePath()).Read(d));
}

TEST(Registry, BatchWritesOnceAndJoinsNestedBatches) {
    CTempEnvironment env;
    {
        CRegistryBatch outer;
        CRegistryKey key;
        ASSERT_TRUE(key.SetKey("K", true));
        {
            CRegistryBatch inner;
            key.WriteNumber("a", 1);
            EXPECT_TRUE(inner.Commit());  // joined: nothing written yet
        }
        EXPECT_FALSE(fs::exists(env.HivePath()));
        EXPECT_EQ(1, key.ReadNumber("a", 0));  // the batch sees its own writes
        key.WriteNumber("b", 2);
        EXPECT_TRUE(outer.Commit());
    }
    CRegistryKey key;
    ASSERT_TRUE(key.SetKey("K", false));
    EXPECT_EQ(2, key.ValueCount());
}

TEST(Registry, StaleTemporariesOfAKilledWriterAreCleared) {
    CTempEnvironment env;
    WriteAll(env.HivePath() + ".tmp-99999-1", "half a hi");
    CRegistryKey key;
    ASSERT_TRUE(key.SetKey("K", true));
    EXPECT_FALSE(fs::exists(env.HivePath() + ".tmp-99999-1"));
}

// A child saves the settings over and over, each save with one counter in every text and number; it is
// killed at a random moment. The hive must then load, and hold one whole save.
TEST(Registry, KillDuringSaveLeavesAWholeHive) {
    CTempEnvironment env;
    std::mt19937 rng(42);
    int struckMidWrite = 0;
    for (int round = 0; round < 12; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CSettings s;
            for (int i = round * 100000;; ++i) {
                std::string n = std::to_string(i);
                s.SetUser("ntv" + n, "pw" + n);
                s.SetServer("host" + n, i);
                s.SetSilence(i);
                s.SetFrameRate(i);
                s.Save();
            }
        }
        // Let it get going, then strike at a random point in its loop.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(env.HivePath()) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        for (const auto& e : fs::directory_iterator(env.ConfigDir()))
            if (e.path().filename().string().find(".tmp-") != std::string::npos)
                ++struckMidWrite;

        CHiveData d;
        std::string error;
        ASSERT_EQ(CHiveFile::EState::Ok, CHiveFile(env.HivePath()).Read(d, &error)) << error;
        CSettings s;
        s.Load();
        ASSERT_TRUE(s.Loaded());
        std::string n = std::to_string(s.GetSilence());
        EXPECT_EQ("ntv" + n, s.GetNtv());
        EXPECT_EQ("pw" + n, s.GetPassword());
        EXPECT_EQ("host" + n, s.GetHost());
        EXPECT_EQ(s.GetSilence(), s.GetPort());
        EXPECT_EQ(s.GetSilence(), s.GetFrameRate());
    }
    std::printf("killed %d of 12 times between writing a new hive and renaming it\n", struckMidWrite);
}

// A save that cannot write its whole new file (a full disk, a file-size limit) fails, leaves the old hive
// as it was byte for byte, and leaves no temporary behind. The limit is set in a child, which reports
// what Save returned through its exit code.
TEST(Registry, SaveThatCannotWriteTheWholeFileKeepsTheOldHive) {
    CTempEnvironment env;
    {
        CSettings s;
        s.SetUser("1001", "secret");
        ASSERT_TRUE(s.Save());
    }
    const std::string before = ReadAll(env.HivePath());
    ASSERT_FALSE(before.empty());
    for (rlim_t room : {rlim_t{0}, rlim_t{before.size() / 2}, rlim_t{before.size() + 16}}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
            CSettings s;
            s.Load();
            // Longer values than before, each within what a value may hold.
            s.SetUser(std::string(200, '7'), std::string(200, 's'));
            s.SetServer(std::string(200, 'h'), 443);
            rlimit limit{room, room};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                _exit(3);
            _exit(s.Save() ? 1 : 0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(0, WEXITSTATUS(status)) << "Save reported success with room for " << room << " bytes";
        EXPECT_EQ(before, ReadAll(env.HivePath()));
        for (const auto& e : fs::directory_iterator(env.ConfigDir()))
            EXPECT_EQ(std::string::npos, e.path().filename().string().find(".tmp-")) << e.path();
    }
}

// Two processes each write their own values, one call at a time: neither loses the other's.
TEST(Registry, TwoWritersKeepEachOthersValues) {
    CTempEnvironment env;
    {
        CRegistryKey key;
        ASSERT_TRUE(key.SetKey("K", true));
    }
    constexpr int kEach = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            CRegistryKey key;
            bool ok = key.SetKey("K", false);
            for (int i = 0; i < kEach; ++i)
                ok = key.WriteNumber(std::string(1, static_cast<char>('a' + c)) + std::to_string(i), i) && ok;
            _exit(ok ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(0, WEXITSTATUS(status));
    }
    CRegistryKey key;
    ASSERT_TRUE(key.SetKey("K", false));
    EXPECT_EQ(2 * kEach, key.ValueCount());
    for (int i = 0; i < kEach; ++i) {
        EXPECT_EQ(i, key.ReadNumber("a" + std::to_string(i), -1));
        EXPECT_EQ(i, key.ReadNumber("b" + std::to_string(i), -1));
    }
}

TEST(Registry, ALockHeldTooLongFailsTheWriteInsteadOfHanging) {
    CTempEnvironment env;
    CHiveFile holder(env.HivePath());
    ASSERT_TRUE(holder.Lock());
    CHiveFile other(env.HivePath());
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(other.Lock(50));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    holder.Unlock();
    EXPECT_TRUE(other.Lock(50));
}

}  // namespace
