#pragma once
// Machine folders and file-system helpers. Every folder returned ends with '/'.
// With QEV_SYSROOT set, every machine folder lives under that directory (the sandbox).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// The sandbox root without a trailing '/', or "" when there is none.
std::string SysRoot();
// An absolute machine path ("/opt/") moved into the sandbox when there is one.
std::string MachinePath(std::string_view absolute);

std::string ProgramFilesFolder();      // "/opt/" (both bitnesses)
std::string CommonAppDataFolder();     // "/var/lib/"
std::string CommonDocumentsFolder();   // "/var/cache/"
std::string UserTempFolder();          // $TMPDIR or "/tmp/" ("<sysroot>/tmp/" in a sandbox)
std::string UserLocalAppDataFolder();  // "~/.local/share/" of $SUDO_USER, else of this user
std::string RuntimeFolder();           // locks and window sockets; created when missing
std::vector<std::string> SystemFolders();  // what counts as the Windows folder here

// The running program, from /proc/self/exe.
std::string OwnExePath();
std::string OwnExeFolder();
std::string OwnExeFileName();

std::string WithTrailingSlash(std::string path);
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);
// Creates each missing level of the folder in turn; false as soon as one cannot be made.
bool CreateFolderTree(const std::string& folder);
// Names of the plain files (no folders) directly inside a folder.
std::vector<std::string> ListPlainFiles(const std::string& folder);
// Last modification time in seconds since 1970, 0 when unreadable.
int64_t FileModTime(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string& out);
// Writes through a temporary file and a rename, so readers never see half a file.
bool WriteWholeFileAtomic(const std::string& path, std::string_view data);

}  // namespace plat
