#pragma once
// Fixed drives: mount points of local disk file systems; the "drive root" of a path is the
// longest mount point that prefixes it. In a sandbox the drives are the sandbox root and
// the directories listed one per line in $QEV_SYSROOT/etc/drives.
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Drive roots, each ending with '/', the system drive first.
std::vector<std::string> ListFixedDrives();
// The system drive root ("/" or the sandbox root with '/').
std::string SystemDriveRoot();
// The drive root that holds the path, or "" when none does.
std::string DriveRootOf(const std::string& path);
// Bytes available to the calling user on the volume of the folder; 0 on failure.
uint64_t FreeBytes(const std::string& folder);

}  // namespace plat
