#include "shell/CommandLineMap.h"

#include <cstdint>

#include "platform/Process.h"

CommandLineMap CommandLineMap::FromArguments(const std::vector<std::wstring>& args) {
  CommandLineMap map;
  for (const std::wstring& arg : args) map.Assign(arg);
  return map;
}

CommandLineMap CommandLineMap::FromCommandLine(const std::wstring& commandLine) {
  return FromArguments(plat::SplitCommandLine(commandLine));
}

void CommandLineMap::Assign(const std::wstring& argument) {
  const size_t eq = argument.find(L'=');
  const std::wstring key = eq == std::wstring::npos ? argument : argument.substr(0, eq);
  const std::wstring value = eq == std::wstring::npos ? std::wstring() : argument.substr(eq + 1);
  for (auto& entry : m_entries) {
    if (entry.first == key) {
      entry.second = value;
      return;
    }
  }
  m_entries.emplace_back(key, value);
}

std::optional<std::wstring> CommandLineMap::Get(const std::wstring& key) const {
  for (const auto& entry : m_entries) {
    if (entry.first == key) return entry.second;
  }
  return std::nullopt;
}

bool IsForkRun(const CommandLineMap& map) { return map.Value(L"OnlyForkInstallDependent") == L"1"; }

std::optional<uint32_t> ParseHostHwnd(const std::wstring& value) {
  if (value.empty() || value.size() > 10) return std::nullopt;
  uint64_t n = 0;
  for (wchar_t c : value) {
    if (c < L'0' || c > L'9') return std::nullopt;
    n = n * 10 + static_cast<uint64_t>(c - L'0');
  }
  if (n > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(n);
}
