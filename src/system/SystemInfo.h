#pragma once
// Small stateless facts about the machine and the user's environment. Any thread may call;
// nothing here keeps state except what the registry store holds. Every service degrades to
// an empty text, 0 or false when a key, value, file or system routine is missing, and none
// of them logs.
//
// Text conventions: texts (brands, versions, registry data, command lines, URLs) are wide
// strings; file-system paths and folders are UTF-8 std::string, as the platform layer hands
// them out, and every folder returned ends with '/'.
//
// This header also brings in the client sign, the .NET checks and the text helpers, so a
// caller needs only this one.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "system/ClientSign.h"
#include "system/DotNet.h"
#include "system/TextUtils.h"

// We always run as a native process, never under a 32-bit emulation layer: false.
bool IsWow64();
// True when the machine itself is Arm64 (uname reports aarch64/arm64).
bool IsArm64();
// The view local machine keys are opened in unless a service says otherwise: the 32-bit view
// under IsWow64, else the default one.
plat::RegView MachineRegView();

// Kernel release as "major.minor.patch" (digits only, a missing part is 0); empty when the
// release cannot be read. This is what the reports call the Windows version.
std::wstring GetWindowsVersionText();
// The major number of the same release, 0 when unknown.
int GetWindowsMajorVersion();
// The parsing step of the two above, for any release text such as "6.1.0-18-amd64".
std::wstring VersionTextFromRelease(const std::string& release);

// "Version" of HKLM "Software\Microsoft\Internet Explorer" (at most 50 characters), "-" when
// missing.
std::wstring GetIEVersion();

// The file's version resource as "a.b.c.d"; false (out empty) when the file has none.
bool GetFileVersion(const std::string& path, std::wstring& out);
std::string GetOwnPath();       // the running program
std::string GetOwnFileName();   // its file name, after the last '/'
std::wstring GetOwnVersion();   // its version resource "a.b.c.d", empty when it has none

// Both bitnesses share one Program Files folder here; always true.
bool GetProgramFilesFolders(std::string& out32, std::string& out64);

// True when the path lies in a system folder or in the system drive's Program Files folder
// (an "administrator path"). False for an empty path.
bool IsInSystemFolder(const std::string& path);
// Creates and removes "qev.tmp" in the folder; false for an empty folder or when the file
// cannot be created.
bool IsFolderWritable(const std::string& folder);
// Bytes available to the user on the folder's volume, 0 on failure.
uint64_t GetDiskFreeBytes(const std::string& folder);
// Drive roots ("/"-ending), the system drive first.
std::vector<std::string> ListFixedDrives();

// <common app data>/<brand or "Corvane">/, <user temp>/<brand>/, <own folder>/<brand>/.
// Created when missing; the path is returned even when creating it failed.
std::string GetBrandDataFolder(const std::wstring& brand);
std::string GetBrandTempFolder(const std::wstring& brand);
std::string GetBrandExeFolder(const std::wstring& brand);
// The local application data folder of the desktop user (the sudo caller when elevated);
// empty on failure. Not created.
std::string GetUserLocalAppData();

// The companion product's "InstallName" under HKLM "Software\Corvane\Corvane Orbix", 64-bit
// view first, then 32-bit; the first that names an existing file, else empty.
std::string GetCompanionInstallName();
bool IsCompanionInstalled();

// Writes layers (first 50 characters) as the value named after programPath under HKLM
// "...\AppCompatFlags\Layers", in the 64-bit and then the 32-bit view. True when both views
// took it; a view that cannot be written is skipped.
bool SetCompatLayer(const std::string& programPath, const std::wstring& layers);

// A number in the current user's hive; 0 when missing.
uint32_t ReadUserDword(const std::wstring& key, const std::wstring& name);
bool WriteUserDword(const std::wstring& key, const std::wstring& name, uint32_t value);

// The channel record: HKLM "Software\Brenox\" in the 32-bit view, created when missing.
// ReadBrenoxDefault: its default value (at most 50 characters), empty when missing.
std::wstring ReadBrenoxDefault();
// Writes text as the named value, and also as the default value when that is missing.
// True when the named value was written.
bool SetBrenoxValue(const std::wstring& name, const std::wstring& text);

// Runs a command line without a console and with inherited handles; ends it after timeoutMs
// (never more than 20000). True only when it exited with code 0.
constexpr int kRunHiddenLimitMs = 20000;
bool RunHidden(const std::wstring& commandLine, int timeoutMs = kRunHiddenLimitMs);
bool RunHidden(const std::string& commandLine, int timeoutMs = kRunHiddenLimitMs);
