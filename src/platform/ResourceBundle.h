#pragma once
// Resources appended to an executable by qev-pack: the entries' bytes, an index and a fixed
// trailer with a magic value at the very end of the file. A file without a valid trailer,
// or whose index points outside the file, has no resources.
//
// Layout (all integers little-endian):
//   [original executable][entry bytes ...][index][trailer]
//   index entry: u16 type length, type bytes, u32 id, u64 offset, u64 size
//               (offset counted from the start of the bundle)
//   trailer (32 bytes): u64 bundle start, u64 index offset (from bundle start),
//                       u32 entry count, u32 format version (1), 8 bytes "QEVRSRC\0"
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// The resources the installer looks for.
constexpr uint32_t kResVersion = 1;             // "VERSION"
constexpr uint32_t kResFrameworkChecker = 105;  // "EXE"
constexpr uint32_t kResProductXml = 106;        // "XML"
constexpr uint32_t kResFrameworkXml = 109;      // "XML"
constexpr uint32_t kResLanguageXml = 131;       // "XML"
constexpr uint32_t kResSkinZip = 133;           // "ZIPRES"

struct Resource {
  std::string type;   // "XML", "ZIPRES", "EXE", "VERSION"
  uint32_t id = 0;    // 106 product configuration, 131 language table, ...
  std::string bytes;
};

class ResourceBundle {
 public:
  // Reads the bundle of a file; false (and no entries) when it has none or it is damaged.
  // Only the trailer, the index and the entries are read, never the whole file.
  bool Load(const std::string& path);
  const Resource* Find(const std::string& type, uint32_t id) const;
  const std::vector<Resource>& Entries() const { return m_entries; }

  // Writes executable + bundle of the entries to out (mode 0755). A bundle already on the
  // executable is replaced, not stacked.
  static bool Write(const std::string& executable, const std::vector<Resource>& entries,
                    const std::string& out, std::string& error);

  // The running program's own bundle, loaded once on first use. Tests may replace it.
  static const ResourceBundle& Own();
  static void SetOwnForTesting(const ResourceBundle* bundle);
  void Add(Resource r) { m_entries.push_back(std::move(r)); }

 private:
  std::vector<Resource> m_entries;
};

// The version resource (type "VERSION", id 1) holds the four numbers as text "a.b.c.d":
// exactly four decimal numbers 0..65535, nothing before, between or after them.
bool ParseVersionResource(const std::string& bytes, int out[4]);
// The version of any file from its bundle; false when it has none.
bool ReadFileVersion(const std::string& path, int out[4]);

}  // namespace plat
