// qev-pack: appends a resource bundle to a copy of the installer, or lists a file's bundle.
//
//   qev-pack --exe FILE --out FILE [--product FILE] [--lang FILE] [--skin FILE]
//            [--version a.b.c.d] [--resource TYPE:ID=FILE ...]
//   qev-pack --list FILE
//
// Exit codes: 0 done, 1 a file could not be read or written (or has no bundle to list),
// 2 the command line is wrong.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Folders.h"
#include "platform/ResourceBundle.h"

namespace {

constexpr int kOk = 0;
constexpr int kError = 1;
constexpr int kUsage = 2;

void PrintUsage(FILE* to) {
  std::fputs(
      "usage: qev-pack --exe FILE --out FILE [--product FILE] [--lang FILE] [--skin FILE]\n"
      "                [--version a.b.c.d] [--resource TYPE:ID=FILE ...]\n"
      "       qev-pack --list FILE\n"
      "  --product FILE           product configuration (XML 106)\n"
      "  --lang FILE              language table (XML 131)\n"
      "  --skin FILE              skin archive (ZIPRES 133)\n"
      "  --version a.b.c.d        version resource (VERSION 1)\n"
      "  --resource TYPE:ID=FILE  any resource\n"
      "  --list FILE              prints type, id and size of each resource of FILE\n",
      to);
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "qev-pack: %s\n", message.c_str());
  PrintUsage(stderr);
  return kUsage;
}

struct Wanted {
  std::string type;
  uint32_t id = 0;
  std::string file;     // read from this file, or
  std::string text;     // these bytes when file is empty
};

bool ParseId(const std::string& text, uint32_t& id) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFu) return false;
  id = static_cast<uint32_t>(v);
  return true;
}

// TYPE:ID=FILE
bool ParseResourceArg(const std::string& arg, Wanted& w) {
  const size_t colon = arg.find(':');
  if (colon == std::string::npos || colon == 0 || colon > 0xFFFF) return false;
  const size_t eq = arg.find('=', colon + 1);
  if (eq == std::string::npos || eq + 1 == arg.size()) return false;
  w.type = arg.substr(0, colon);
  w.file = arg.substr(eq + 1);
  return ParseId(arg.substr(colon + 1, eq - colon - 1), w.id);
}

void AddWanted(std::vector<Wanted>& list, Wanted w) {
  // A later option for the same resource wins.
  for (Wanted& existing : list) {
    if (existing.type == w.type && existing.id == w.id) {
      existing = std::move(w);
      return;
    }
  }
  list.push_back(std::move(w));
}

int List(const std::string& path) {
  plat::ResourceBundle bundle;
  if (!bundle.Load(path)) {
    std::fprintf(stderr, "qev-pack: %s has no readable resource bundle\n", path.c_str());
    return kError;
  }
  for (const plat::Resource& r : bundle.Entries()) {
    std::printf("%s %u %zu\n", r.type.c_str(), r.id, r.bytes.size());
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::string exe, out, list;
  bool listGiven = false;
  std::vector<Wanted> wanted;

  for (int i = 1; i < argc; ++i) {
    const std::string opt = argv[i];
    if (opt == "--help" || opt == "-h") {
      PrintUsage(stdout);
      return kOk;
    }
    if (i + 1 >= argc) return Usage("missing value after " + opt);
    const std::string value = argv[++i];
    if (opt == "--exe") {
      exe = value;
    } else if (opt == "--out") {
      out = value;
    } else if (opt == "--list") {
      list = value;
      listGiven = true;
    } else if (opt == "--product") {
      AddWanted(wanted, {"XML", plat::kResProductXml, value, {}});
    } else if (opt == "--lang") {
      AddWanted(wanted, {"XML", plat::kResLanguageXml, value, {}});
    } else if (opt == "--skin") {
      AddWanted(wanted, {"ZIPRES", plat::kResSkinZip, value, {}});
    } else if (opt == "--version") {
      int parts[4];
      if (!plat::ParseVersionResource(value, parts)) return Usage("not a version a.b.c.d: " + value);
      AddWanted(wanted, {"VERSION", plat::kResVersion, {}, value});
    } else if (opt == "--resource") {
      Wanted w;
      if (!ParseResourceArg(value, w)) return Usage("not TYPE:ID=FILE: " + value);
      AddWanted(wanted, std::move(w));
    } else {
      return Usage("unknown option " + opt);
    }
  }

  if (listGiven) {
    if (!exe.empty() || !out.empty() || !wanted.empty()) return Usage("--list takes no other option");
    if (list.empty()) return Usage("--list needs a file");
    return List(list);
  }
  if (exe.empty() || out.empty()) return Usage("--exe and --out are required");

  std::vector<plat::Resource> entries;
  for (const Wanted& w : wanted) {
    plat::Resource r;
    r.type = w.type;
    r.id = w.id;
    if (w.file.empty()) {
      r.bytes = w.text;
    } else if (!plat::IsRegularFile(w.file) || !plat::ReadWholeFile(w.file, r.bytes)) {
      std::fprintf(stderr, "qev-pack: cannot read %s\n", w.file.c_str());
      return kError;
    }
    entries.push_back(std::move(r));
  }
  std::string error;
  if (!plat::ResourceBundle::Write(exe, entries, out, error)) {
    std::fprintf(stderr, "qev-pack: %s\n", error.c_str());
    return kError;
  }
  return kOk;
}
