// Where this user's files live: the settings folder, the XDG base folders, the folder of per-session
// locks, and the path and name of the running program.
#pragma once

#include <string>

// The folder of the settings hive: $VELAPHON_CONFIG_DIR when set (tests, clients side by side), else
// $XDG_CONFIG_HOME/velaphon, else ~/.config/velaphon. Empty when none can be named.
std::string ConfigFolder();
// $XDG_CONFIG_HOME or ~/.config; $XDG_DATA_HOME or ~/.local/share. Empty when HOME is unknown too.
std::string XdgConfigHome();
std::string XdgDataHome();

// Creates `path` and its missing parents; the last component gets mode 0700. True when it exists as a
// directory afterwards.
bool MakeFolders(const std::string& path);
// True when `path` is a directory owned by this user that nobody else may write to or list; creates it
// (mode 0700) when missing. Refuses symbolic links, so a folder planted in /tmp is never trusted.
bool MakePrivateFolder(const std::string& path);

// The absolute path of the running program file ("" when the system does not tell).
std::string ProgramFilePath();
// The file name of `path` without folder and without its last extension ("/a/b/velaphon.bin" ->
// "velaphon"). A name that is only an extension (".x") is kept whole.
std::string ProgramBaseName(const std::string& path);
