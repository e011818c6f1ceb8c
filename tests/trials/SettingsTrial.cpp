// kill -9 of a process in the middle of its settings saves: the hive left behind must load whole and equal
// one of the contents saved, the one saved last or the one being saved.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/HiveFile.h"
#include "settings/Settings.h"
#include "trials/Trials.h"

namespace trials {

namespace {

// Content `k`: every value differs from every other content's, strings and numbers alike, so a hive
// mixed from two saves cannot pass for either.
void Fill(CSettings& s, int k) {
    const std::string n = std::to_string(k);
    s.SetUser("ntv" + n, "password-" + n + std::string(40, 'p'));
    s.SetServer("host-" + n + ".example.org", 1000 + k);
    s.SetUseProxy(k % 2 == 1);
    s.SetProxy("proxy-" + n, 2000 + k, "login-" + n, "secret-" + n, "domain-" + n);
    s.SetAudioIn("microphone " + n);
    s.SetAudioOut("speaker " + n);
    s.SetAudioInVolume(k % 101);
    s.SetAudioOutVolume((k + 50) % 101);
    s.SetSilence(3000 + k);
    s.SetCornerPosition(k % 4);
    s.SetVideoIn("camera " + n);
    s.SetFrameRate(100 + k);
}

std::string Signature(const CSettings& s) {
    std::string t;
    for (const std::string& v :
         {s.GetNtv(), s.GetPassword(), s.GetHost(), s.GetProxyHost(), s.GetProxyLogin(), s.GetProxyPassword(),
          s.GetProxyDomain(), s.GetAudioIn(), s.GetAudioOut(), s.GetVideoIn()})
        t += v + "|";
    for (int v : {s.GetPort(), int(s.GetProxy()), s.GetProxyPort(), s.GetAudioInVolume(),
                  s.GetAudioOutVolume(), s.GetSilence(), s.GetCornerPosition(), s.GetFrameRate()})
        t += std::to_string(v) + "|";
    return t;
}

// Which content the hive holds: its number, -1 when it equals none.
int LoadedContent() {
    CSettings s;
    s.Load();
    if (!s.Loaded() || s.GetNtv().compare(0, 3, "ntv") != 0)
        return -1;
    const int k = std::atoi(s.GetNtv().c_str() + 3);
    CSettings expected;
    Fill(expected, k);
    return Signature(s) == Signature(expected) ? k : -1;
}

int TemporariesLeft(const std::string& folder) {
    int count = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("user.hive", 0) == 0 && name != "user.hive" && name.find(".lock") == std::string::npos)
            ++count;
    }
    return count;
}

}  // namespace

int SaveLoop() {
    // Content 0 is the old one, seeded by the trial; every save here writes a new one.
    for (int k = 1;; ++k) {
        CSettings s;
        Fill(s, k);
        if (!s.Save()) {
            std::printf("save-failed %d\n", k);
            return 1;
        }
        std::printf("saved %d\n", k);
        std::fflush(stdout);
    }
}

std::string KillDuringSaves(SContext& ctx) {
    const std::string folder = ctx.scratch + "/settings";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    setenv("VELAPHON_CONFIG_DIR", folder.c_str(), 1);
    {
        CSettings old;
        Fill(old, 0);
        old.Save();
    }
    int whole = 0, wrong = 0, asLast = 0, asNext = 0, firstSave = 0, leftovers = 0, saveFailed = 0;
    std::vector<double> saves;
    for (int i = 0; i < ctx.n; ++i) {
        // Each run starts from a fresh old content, so the first save replaces something different.
        {
            CSettings old;
            Fill(old, 0);
            old.Save();
        }
        vp::test::CChildProcess saver;
        saver.Start({ctx.bin + "/trials", "--save-loop"}, vp::test::CChildProcess::kOut, SIGKILL,
                    {"VELAPHON_CONFIG_DIR=" + folder});
        // Some runs die before their first save is through, most in the middle of a later one.
        std::this_thread::sleep_for(std::chrono::microseconds(ctx.Uniform(0, 40000)));
        saver.Kill();
        const long last = std::max(0L, NumberAfter(saver, "saved"));
        saves.push_back(static_cast<double>(last));
        saveFailed += saver.Count("save-failed ", EMatch::Prefix);
        leftovers += TemporariesLeft(folder);
        CHiveData data;
        const bool readable = CHiveFile(CHiveFile::DefaultPath()).Read(data) == CHiveFile::EState::Ok;
        const int k = LoadedContent();
        if (!readable || k < 0) {
            ++wrong;
            continue;
        }
        // A save counted as done must be on disk; the one under way may be there or not.
        if (k == last)
            ++asLast;
        else if (k == last + 1)
            ++asNext;
        else {
            ++wrong;
            continue;
        }
        ++whole;
        if (last == 0)
            ++firstSave;
    }
    unsetenv("VELAPHON_CONFIG_DIR");

    char text[1024];
    std::snprintf(text, sizeof text,
                  "| kill -9 during settings saves | %d | %s | saves done before the kill: %s | hive whole "
                  "and equal to a saved content %d times (the last save done %d, the one under way %d; "
                  "killed before its first save was done %d); files left beside the hive %d (temporaries, "
                  "removed by the next save) |\n",
                  ctx.n,
                  wrong + saveFailed == 0 ? "none"
                                          : (std::to_string(wrong) + " mixed or unreadable; " +
                                             std::to_string(saveFailed) + " saves failed")
                                                .c_str(),
                  Distribution(saves).c_str(), whole, asLast, asNext, firstSave, leftovers);
    return text;
}

}  // namespace trials
