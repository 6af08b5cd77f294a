#pragma once
#include <string>

// The installer's own version from its version resource: all four parts ("%d.%d.%d.%d")
// with withBuild, else the first three. "4.5.14" when the resource is missing or unreadable.
std::wstring GetSelfVersion(bool withBuild);
