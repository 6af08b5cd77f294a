#pragma once
// .NET Framework presence, from the registry records a framework setup leaves behind.
#include <string>

// "policy\v2.0" or "policy\v2.0.50727" under HKLM "SOFTWARE\Microsoft\.NETFramework" exists
// and that key holds a non-empty "InstallRoot".
bool IsDotNet2Present();

// Runs the framework check program (commandLine is its path) with the shim's dialog
// switched off ("NoGuiFromShim" = 1 for the duration). False for an empty command line,
// without .NET 2, or when the program does not exit with 0.
bool RunDotNetChecker(const std::wstring& commandLine);
bool RunDotNetChecker(const std::string& commandLine);

// True when an installed framework of the "NET Framework Setup\NDP" records satisfies the
// dotted version ("4.5", "3.5", "2.0"): same major with a minor not below, or (for 2.x and
// 3.x only) a higher major. 4.x never satisfies a 2.x or 3.x requirement. A required major
// outside 2 to 4 is never satisfied.
bool IsDotNetVersionInstalled(const std::wstring& version);
