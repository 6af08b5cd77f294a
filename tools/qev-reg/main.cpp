// qev-reg: reads and writes the registry store for setup programs, scripts and tests.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/Diagnostics.h"
#include "platform/Registry.h"
#include "platform/TextConv.h"

namespace {

constexpr int kOk = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;
constexpr int kStoreFailure = 3;

constexpr const char* kHelp =
    "usage:\n"
    "  qev-reg read   HIVE KEY [NAME] [--view 32|64]\n"
    "      prints the value: a string as UTF-8, a dword in decimal, then a newline\n"
    "  qev-reg write  HIVE KEY NAME VALUE [--dword] [--view 32|64]\n"
    "      --dword: VALUE is a number, decimal or 0x hexadecimal, 0 to 4294967295\n"
    "  qev-reg delete HIVE KEY [NAME] [--view 32|64]\n"
    "      deletes the value, or the key with everything below it when NAME is absent\n"
    "  qev-reg list   HIVE KEY [--view 32|64]\n"
    "      prints one line per direct sub-key, \"[KEY\\child]\", then one line per value,\n"
    "      \"name=REG_SZ:text\" or \"name=REG_DWORD:decimal\"; the default value is named \"@\"\n"
    "\n"
    "HIVE: HKLM, HKCU, HKCR or HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT.\n"
    "KEY: components separated by '\\', compared without regard to case.\n"
    "NAME: \"\" or \"@\" is the key's default value (also when NAME is absent).\n"
    "--view applies to HKLM only (64 is the default). A \"--\" ends the options.\n"
    "Arguments are UTF-8. The store follows QEV_SYSROOT.\n"
    "exit codes: 0 done, 1 not found, 2 usage error, 3 store failure\n";

void PrintDiagnostic(int, const std::string& message) { std::fprintf(stderr, "%s\n", message.c_str()); }

int Usage(const char* why) {
  std::fprintf(stderr, "qev-reg: %s\n\n%s", why, kHelp);
  return kUsage;
}

int FromStatus(plat::RegStatus status) {
  switch (status) {
    case plat::RegStatus::Ok:
      return kOk;
    case plat::RegStatus::NotFound:
      return kNotFound;
    case plat::RegStatus::BadName:
      std::fprintf(stderr, "qev-reg: key or value name too long\n");
      return kUsage;
    case plat::RegStatus::StoreFailure:
      break;
  }
  std::fprintf(stderr, "qev-reg: the registry store cannot be used: %s\n", plat::Registry::StorePath().c_str());
  return kStoreFailure;
}

std::wstring ValueName(const std::string& arg) { return arg == "@" ? std::wstring() : plat::Utf8ToWide(arg); }

bool ParseDword(const std::string& text, uint32_t& out) {
  if (text.empty() || text.size() > 10) return false;
  int base = 10;
  size_t i = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return false;
  }
  out = static_cast<uint32_t>(value);
  return true;
}

void PrintValue(const plat::RegValue& v, bool withName) {
  std::string line;
  if (withName) {
    line = v.name.empty() ? std::string("@") : plat::WideToUtf8(v.name);
    line += v.type == plat::RegType::Dword ? "=REG_DWORD:" : "=REG_SZ:";
  }
  line += v.type == plat::RegType::Dword ? std::to_string(v.dword) : plat::WideToUtf8(v.text);
  std::printf("%s\n", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  plat::SetDiagnosticSink(PrintDiagnostic);

  std::vector<std::string> positional;
  plat::RegView view = plat::RegView::Default;
  bool dword = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!plat::IsValidUtf8(arg)) return Usage("arguments must be UTF-8");
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (arg == "--help" || arg == "-h")) {
      std::fputs(kHelp, stdout);
      return kOk;
    } else if (!optionsEnded && arg == "--dword") {
      dword = true;
    } else if (!optionsEnded && arg == "--view") {
      if (i + 1 >= argc) return Usage("--view needs 32 or 64");
      const std::string v = argv[++i];
      if (v == "32") {
        view = plat::RegView::View32;
      } else if (v == "64") {
        view = plat::RegView::View64;
      } else {
        return Usage("--view needs 32 or 64");
      }
    } else if (!optionsEnded && arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      return Usage("unknown option");
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() < 3) return Usage("too few arguments");
  const std::string& command = positional[0];
  plat::Hive hive;
  if (!plat::ParseHive(positional[1], hive)) return Usage("unknown hive");
  const std::wstring key = plat::Utf8ToWide(positional[2]);
  if (dword && command != "write") return Usage("--dword is for write only");

  if (command == "read") {
    if (positional.size() > 4) return Usage("too many arguments");
    plat::RegValue value;
    const std::wstring name = positional.size() == 4 ? ValueName(positional[3]) : std::wstring();
    const int code = FromStatus(plat::Registry::QueryValue(hive, view, key, name, value));
    if (code == kOk) PrintValue(value, false);
    return code;
  }
  if (command == "write") {
    if (positional.size() != 5) return Usage("write needs HIVE KEY NAME VALUE");
    plat::RegValue value;
    value.name = ValueName(positional[3]);
    if (dword) {
      value.type = plat::RegType::Dword;
      if (!ParseDword(positional[4], value.dword)) return Usage("not a 32-bit number");
    } else {
      value.type = plat::RegType::String;
      value.text = plat::Utf8ToWide(positional[4]);
    }
    return FromStatus(plat::Registry::SetValue(hive, view, key, value));
  }
  if (command == "delete") {
    if (positional.size() > 4) return Usage("too many arguments");
    if (positional.size() == 4) {
      return FromStatus(plat::Registry::RemoveValue(hive, view, key, ValueName(positional[3])));
    }
    return FromStatus(plat::Registry::RemoveKey(hive, view, key));
  }
  if (command == "list") {
    if (positional.size() != 3) return Usage("too many arguments");
    std::vector<std::wstring> subKeys;
    std::vector<plat::RegValue> values;
    const int code = FromStatus(plat::Registry::EnumerateKey(hive, view, key, subKeys, values));
    if (code != kOk) return code;
    std::wstring prefix = key;
    while (!prefix.empty() && prefix.back() == L'\\') prefix.pop_back();
    if (!prefix.empty()) prefix.push_back(L'\\');
    for (const auto& child : subKeys) std::printf("[%s]\n", plat::WideToUtf8(prefix + child).c_str());
    for (const auto& v : values) PrintValue(v, true);
    return kOk;
  }
  return Usage("unknown command");
}
