#pragma once
// The installer's Key=Value arguments. A key is the text before the first '=', the value
// the text after it (empty without '='); a later occurrence of a key wins. Keys are
// case-sensitive and kept in first-seen order.
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CommandLineMap {
 public:
  // From arguments already split (argv without the program name).
  static CommandLineMap FromArguments(const std::vector<std::wstring>& args);
  // From one command line, split with the system's rules (no program name in front).
  static CommandLineMap FromCommandLine(const std::wstring& commandLine);

  std::optional<std::wstring> Get(const std::wstring& key) const;
  std::wstring Value(const std::wstring& key) const { return Get(key).value_or(std::wstring()); }
  const std::vector<std::pair<std::wstring, std::wstring>>& Entries() const { return m_entries; }

 private:
  void Assign(const std::wstring& argument);
  std::vector<std::pair<std::wstring, std::wstring>> m_entries;
};

// "OnlyForkInstallDependent" equal to "1" exactly.
bool IsForkRun(const CommandLineMap& map);
// A decimal window handle; absent for an empty, non-numeric or out-of-range value.
std::optional<uint32_t> ParseHostHwnd(const std::wstring& value);
