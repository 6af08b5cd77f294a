#include "platform/Drives.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/Folders.h"

namespace plat {

namespace {

// Local disk file systems; pseudo, network and memory file systems are not drives.
bool IsDiskFileSystem(const std::string& type) {
  static const std::set<std::string> kDisk = {"ext2", "ext3", "ext4", "xfs", "btrfs", "f2fs",
                                              "vfat", "exfat", "ntfs", "ntfs3", "fuseblk",
                                              "jfs", "reiserfs", "zfs", "overlay"};
  return kDisk.count(type) != 0;
}

// mountinfo escapes blanks and a few other bytes as \ooo.
std::string UnescapeMountPath(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\\' && i + 3 < in.size()) {
      const std::string oct = in.substr(i + 1, 3);
      if (oct.size() == 3 && std::all_of(oct.begin(), oct.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out.push_back(static_cast<char>(std::stoi(oct, nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(in[i]);
  }
  return out;
}

std::vector<std::string> RealDrives() {
  std::vector<std::string> out{"/"};
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root mountpoint options [optional...] - fstype source superopts
    std::istringstream ss(line);
    std::string id, parent, dev, root, mount;
    ss >> id >> parent >> dev >> root >> mount;
    const size_t dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream rest(line.substr(dash + 3));
    std::string type;
    rest >> type;
    if (!IsDiskFileSystem(type)) continue;
    const std::string path = WithTrailingSlash(UnescapeMountPath(mount));
    if (std::find(out.begin(), out.end(), path) == out.end()) out.push_back(path);
  }
  return out;
}

std::vector<std::string> SandboxDrives(const std::string& root) {
  std::vector<std::string> out{WithTrailingSlash(root)};
  std::ifstream in(root + "/etc/drives");
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty() || line[0] != '/') continue;
    const std::string path = WithTrailingSlash(line);
    if (std::find(out.begin(), out.end(), path) == out.end()) out.push_back(path);
  }
  return out;
}

}  // namespace

std::vector<std::string> ListFixedDrives() {
  const std::string root = SysRoot();
  return root.empty() ? RealDrives() : SandboxDrives(root);
}

std::string SystemDriveRoot() { return WithTrailingSlash(SysRoot()); }

std::string DriveRootOf(const std::string& path) {
  std::string best;
  const std::string probe = WithTrailingSlash(path);
  for (const std::string& drive : ListFixedDrives()) {
    if (probe.compare(0, drive.size(), drive) == 0 && drive.size() > best.size()) best = drive;
  }
  return best;
}

uint64_t FreeBytes(const std::string& folder) {
  struct statvfs st;
  if (folder.empty() || statvfs(folder.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.f_bavail) * static_cast<uint64_t>(st.f_frsize);
}

}  // namespace plat
