// Desktop entries this program writes for the desktop: the autostart entry (start at log-on) and the
// handler of "velaphon:" links, which starts the program in dynamic mode.
#pragma once

#include <string>

// One argument of an Exec line: quoted and escaped as desktop entries require. Empty when the text
// cannot be carried (control characters).
std::string QuoteExecArgument(const std::string& argument);

// Replaces `path` with `text` through a temporary file and a rename. True on success.
bool WriteFileAtomically(const std::string& path, const std::string& text, unsigned mode = 0644);

// ~/.config/autostart/velaphon.desktop: its presence is what "start at log-on" means.
class CAutostartEntry {
public:
    static std::string Path();
    // Writes an entry that runs `programPath`; false when the path is empty or cannot be carried.
    static bool Write(const std::string& programPath);
    // Removes the entry whoever wrote it. True when no entry remains.
    static bool Remove();
    static bool Exists();
    // The program the entry runs ("" when there is none or it cannot be read).
    static std::string Program();
};

// A desktop entry for the "velaphon" URL scheme. It runs the program through a link whose name holds
// the dynamic-mode text, since the program path is what selects that mode.
class CUrlSchemeHandler {
public:
    static constexpr const char* kScheme = "velaphon";
    static std::string DesktopFilePath();  // $XDG_DATA_HOME/applications/velaphon-url.desktop
    static std::string LauncherPath();     // $XDG_DATA_HOME/velaphon/velaphon-VLPDINAMIC
    // Makes link and entry point at `programPath`. `changed` tells whether anything was rewritten.
    static bool Install(const std::string& programPath, bool* changed = nullptr);
    // Asks the desktop (xdg-mime, in the background) to make the entry the scheme's default handler.
    static void RegisterAsDefault();
    // True when the program was installed with a handler of its own: a system-wide link
    // <prefix>/lib/velaphon/velaphon-VLPDINAMIC beside <prefix>/bin that leads to this program.
    static bool InstalledWithProgram(const std::string& programPath);
    // Deletes this user's entry and link: an entry of the same name would hide the installed one.
    static void Remove();
};
