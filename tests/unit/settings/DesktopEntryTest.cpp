// Desktop entries: Exec quoting, and the handler of "velaphon:" links.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/DesktopEntry.h"
#include "support/TempEnvironment.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(DesktopEntry, ExecArgumentsAreQuotedAndEscapedTwice) {
    EXPECT_EQ("\"/usr/bin/velaphon\"", QuoteExecArgument("/usr/bin/velaphon"));
    EXPECT_EQ("\"/a b/c\"", QuoteExecArgument("/a b/c"));
    // Quoting escapes \" ` $ \\ with a backslash; the value's own escaping doubles every backslash.
    EXPECT_EQ("\"/x\\\\\"y\\\\`\\\\$z\\\\\\\\\"", QuoteExecArgument("/x\"y`$z\\"));
    EXPECT_EQ("\"/100%%\"", QuoteExecArgument("/100%"));
    EXPECT_EQ("", QuoteExecArgument("/bad\nname"));

    CTempEnvironment env;
    for (std::string path : {"/opt/velaphon", "/a b/\"q\"/$HOME/`x`/back\\slash/100%/v"}) {
        ASSERT_TRUE(CAutostartEntry::Write(path));
        EXPECT_EQ(path, CAutostartEntry::Program());
    }
    EXPECT_FALSE(CAutostartEntry::Write(""));
    EXPECT_FALSE(CAutostartEntry::Write("/bad\nname"));
}

TEST(DesktopEntry, UrlHandlerRunsTheProgramThroughADynamicModeLink) {
    CTempEnvironment env;
    const std::string program = env.Root() + "/bin/velaphon";
    fs::create_directories(env.Root() + "/bin");
    std::ofstream(program) << "#!/bin/sh\n";

    bool changed = false;
    ASSERT_TRUE(CUrlSchemeHandler::Install(program, &changed));
    EXPECT_TRUE(changed);
    const std::string launcher = CUrlSchemeHandler::LauncherPath();
    EXPECT_NE(std::string::npos, launcher.find("VLPDINAMIC"));
    EXPECT_EQ(program, fs::read_symlink(launcher).string());
    std::string entry = ReadAll(CUrlSchemeHandler::DesktopFilePath());
    EXPECT_NE(std::string::npos, entry.find("MimeType=x-scheme-handler/velaphon;\n"));
    EXPECT_NE(std::string::npos, entry.find("Exec=\"" + launcher + "\" %u\n"));

    ASSERT_TRUE(CUrlSchemeHandler::Install(program, &changed));
    EXPECT_FALSE(changed);  // nothing to do the second time

    const std::string moved = env.Root() + "/bin/velaphon2";
    ASSERT_TRUE(CUrlSchemeHandler::Install(moved, &changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(moved, fs::read_symlink(launcher).string());
    EXPECT_FALSE(CUrlSchemeHandler::Install("", &changed));
}

// A packaged program brings its handler; the start-up registration is only for programs that do not.
TEST(DesktopEntry, AnInstalledProgramIsKnownByItsSystemWideLink) {
    CTempEnvironment env;
    const std::string prefix = env.Root() + "/usr";
    fs::create_directories(prefix + "/bin");
    fs::create_directories(prefix + "/lib/velaphon");
    const std::string program = prefix + "/bin/velaphon";
    std::ofstream(program) << "#!/bin/sh\n";
    EXPECT_FALSE(CUrlSchemeHandler::InstalledWithProgram(program));  // a build tree

    fs::create_symlink("../../bin/velaphon", prefix + "/lib/velaphon/velaphon-VLPDINAMIC");
    EXPECT_TRUE(CUrlSchemeHandler::InstalledWithProgram(program));
    std::ofstream(prefix + "/bin/velaphon-copy") << "#!/bin/sh\n";
    EXPECT_FALSE(CUrlSchemeHandler::InstalledWithProgram(prefix + "/bin/velaphon-copy"));
    EXPECT_FALSE(CUrlSchemeHandler::InstalledWithProgram(""));

    // What a build-tree run registered earlier would hide the installed entry of the same name.
    ASSERT_TRUE(CUrlSchemeHandler::Install(env.Root() + "/elsewhere/velaphon"));
    CUrlSchemeHandler::Remove();
    EXPECT_FALSE(fs::exists(CUrlSchemeHandler::DesktopFilePath()));
    EXPECT_FALSE(fs::is_symlink(CUrlSchemeHandler::LauncherPath()));
}

}  // namespace
