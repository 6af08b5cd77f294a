#include "Scenario.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "platform/UniqueFd.h"

namespace makersim {
namespace {

constexpr size_t kMaxScenarioBytes = 16u << 20;
constexpr uint64_t kMaxGeneratedSize = uint64_t{1} << 40;

struct KeyValue {
  std::string key;
  std::string value;
  int line = 0;
};

struct Block {
  std::string kind;
  std::vector<std::string> args;
  int line = 0;
  std::vector<KeyValue> keys;
};

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

std::vector<std::string> SplitWords(const std::string& s, bool commaToo) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == ' ' || c == '\t' || (commaToo && c == ',')) {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

std::string At(int line, const std::string& why) { return "line " + std::to_string(line) + ": " + why; }

bool ParseU64(const std::string& s, uint64_t& out) {
  if (s.empty() || s.size() > 20) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    const uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

bool ParseIntIn(const std::string& s, int64_t lo, int64_t hi, int64_t& out) {
  uint64_t v = 0;
  if (!ParseU64(s, v) || v > static_cast<uint64_t>(hi) || static_cast<int64_t>(v) < lo) return false;
  out = static_cast<int64_t>(v);
  return true;
}

bool ParseBool(const std::string& s, bool& out) {
  if (s == "yes" || s == "true" || s == "1") {
    out = true;
    return true;
  }
  if (s == "no" || s == "false" || s == "0") {
    out = false;
    return true;
  }
  return false;
}

bool ParseSeconds(const std::string& s, double& out) {
  if (s.empty() || s.size() > 32) return false;
  for (char c : s) {
    if ((c < '0' || c > '9') && c != '.') return false;
  }
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (errno != 0 || end != s.c_str() + s.size() || !std::isfinite(v) || v <= 0 || v > 86400) return false;
  out = v;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// \n \r \t \\ and \xHH; anything else after a backslash is an error.
bool Unescape(const std::string& s, std::string& out) {
  out.clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out.push_back(s[i]);
      continue;
    }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case '\\': out.push_back('\\'); break;
      case 'x': {
        if (i + 2 >= s.size()) return false;
        const int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

bool IsToken(const std::string& s) {
  if (s.empty() || s.size() > 64) return false;
  for (char c : s) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

bool IsMethod(const std::string& s) {
  if (s.empty() || s.size() > 16) return false;
  for (char c : s) {
    if (c < 'A' || c > 'Z') return false;
  }
  return true;
}

bool ParsePathPattern(const std::string& s, Match& m) {
  if (s.empty() || s[0] != '/' || s.size() > 4096) return false;
  for (unsigned char c : s) {
    if (c <= ' ' || c == 0x7f) return false;
  }
  m.prefix = s.back() == '*';
  m.path = m.prefix ? s.substr(0, s.size() - 1) : s;
  return true;
}

class Builder {
 public:
  Builder(Scenario& out, std::string& error) : m_out(out), m_error(error) {}

  bool Listener(const Block& b);
  bool Entry(const Block& b);
  bool Fault(const Block& b);

 private:
  bool Fail(int line, const std::string& why) {
    m_error = At(line, why);
    return false;
  }
  bool Listeners(const KeyValue& kv, std::vector<size_t>& out);
  bool Headers(const KeyValue& kv, HeaderList& out);
  bool Body(const KeyValue& kv, BodySource& body, bool& handled, bool& seedSeen);

  Scenario& m_out;
  std::string& m_error;
  std::map<std::string, size_t> m_names;
};

bool Builder::Listener(const Block& b) {
  if (b.args.size() != 1 || !IsToken(b.args[0])) return Fail(b.line, "expected [listener NAME]");
  makersim::Listener l;
  l.name = b.args[0];
  l.line = b.line;
  if (m_names.count(l.name)) return Fail(b.line, "listener \"" + l.name + "\" declared twice");
  for (const auto& kv : b.keys) {
    int64_t v = 0;
    if (kv.key == "address") {
      if (!IsLoopbackAddress(kv.value)) {
        return Fail(kv.line, "address \"" + kv.value + "\" refused: only 127.x.x.x loopback addresses");
      }
      l.address = kv.value;
    } else if (kv.key == "port") {
      if (!ParseIntIn(kv.value, 0, 65535, v)) return Fail(kv.line, "port must be 0 to 65535");
      l.port = static_cast<int>(v);
    } else if (kv.key == "threads") {
      if (!ParseIntIn(kv.value, 1, 256, v)) return Fail(kv.line, "threads must be 1 to 256");
      l.threads = static_cast<int>(v);
    } else if (kv.key == "keepalive_max") {
      if (!ParseIntIn(kv.value, 1, 1000000, v)) return Fail(kv.line, "keepalive_max must be 1 to 1000000");
      l.keepAliveMax = static_cast<int>(v);
    } else if (kv.key == "keepalive_timeout") {
      if (!ParseIntIn(kv.value, 1, 3600, v)) return Fail(kv.line, "keepalive_timeout must be 1 to 3600");
      l.keepAliveTimeout = static_cast<int>(v);
    } else {
      return Fail(kv.line, "unknown key \"" + kv.key + "\" in [listener]");
    }
  }
  if (l.address.empty()) return Fail(b.line, "listener \"" + l.name + "\" has no address");
  for (const auto& other : m_out.listeners) {
    if (l.port != 0 && other.address == l.address && other.port == l.port) {
      return Fail(b.line, "listeners \"" + other.name + "\" and \"" + l.name + "\" share an address and port");
    }
  }
  m_names[l.name] = m_out.listeners.size();
  m_out.listeners.push_back(l);
  return true;
}

bool Builder::Listeners(const KeyValue& kv, std::vector<size_t>& out) {
  const auto names = SplitWords(kv.value, true);
  if (names.empty()) return Fail(kv.line, "listeners needs at least one name");
  for (const auto& n : names) {
    const auto it = m_names.find(n);
    if (it == m_names.end()) return Fail(kv.line, "unknown listener \"" + n + "\"");
    out.push_back(it->second);
  }
  return true;
}

bool Builder::Headers(const KeyValue& kv, HeaderList& out) {
  const size_t colon = kv.value.find(':');
  if (colon == std::string::npos) return Fail(kv.line, "header must be \"Name: value\"");
  const std::string name = Trim(kv.value.substr(0, colon));
  const std::string value = Trim(kv.value.substr(colon + 1));
  if (!IsToken(name)) return Fail(kv.line, "bad header name \"" + name + "\"");
  for (unsigned char c : value) {
    if (c < ' ' && c != '\t') return Fail(kv.line, "control character in header value");
  }
  out.emplace_back(name, value);
  return true;
}

bool Builder::Body(const KeyValue& kv, BodySource& body, bool& handled, bool& seedSeen) {
  handled = true;
  const bool isBodyKey = kv.key == "source" || kv.key == "generate" || kv.key == "text";
  if (isBodyKey && body.kind != BodySource::Kind::None) return Fail(kv.line, "only one of source, generate, text");
  if (kv.key == "source") {
    if (kv.value.empty()) return Fail(kv.line, "source needs a file path");
    body.kind = BodySource::Kind::File;
    body.path = kv.value[0] == '/' ? kv.value : m_out.folder + "/" + kv.value;
  } else if (kv.key == "generate") {
    if (!ParseU64(kv.value, body.size) || body.size > kMaxGeneratedSize) {
      return Fail(kv.line, "generate needs a size in bytes, at most 2^40");
    }
    body.kind = BodySource::Kind::Generated;
  } else if (kv.key == "seed") {
    if (!ParseU64(kv.value, body.seed)) return Fail(kv.line, "seed must be a decimal number");
    seedSeen = true;
  } else if (kv.key == "text") {
    if (!Unescape(kv.value, body.text)) return Fail(kv.line, "bad escape in text (\\n \\r \\t \\\\ \\xHH)");
    body.kind = BodySource::Kind::Text;
  } else {
    handled = false;
  }
  return true;
}

bool Builder::Entry(const Block& b) {
  makersim::Entry e;
  e.line = b.line;
  e.isFile = b.kind == "file";
  if (e.isFile) {
    if (b.args.size() != 1 || !ParsePathPattern(b.args[0], e.match)) return Fail(b.line, "expected [file /PATH]");
    if (e.match.prefix) return Fail(b.line, "a file has one exact path");
    e.method = "GET";
  } else {
    if (b.args.size() != 2 || !IsMethod(b.args[0]) || !ParsePathPattern(b.args[1], e.match)) {
      return Fail(b.line, "expected [route METHOD /PATH] (METHOD in capitals, or ANY)");
    }
    e.method = b.args[0];
  }
  bool seedSeen = false;
  std::set<std::string> seen;
  for (const auto& kv : b.keys) {
    if (kv.key != "header" && !seen.insert(kv.key).second) return Fail(kv.line, "key \"" + kv.key + "\" given twice");
    bool handled = false;
    if (!Body(kv, e.body, handled, seedSeen)) return false;
    if (handled) continue;
    int64_t v = 0;
    if (kv.key == "listeners") {
      if (!Listeners(kv, e.match.listeners)) return false;
    } else if (kv.key == "content_type") {
      if (kv.value.empty()) return Fail(kv.line, "content_type is empty");
      e.contentType = kv.value;
    } else if (kv.key == "header") {
      if (!Headers(kv, e.headers)) return false;
    } else if (kv.key == "times") {
      if (!ParseIntIn(kv.value, 1, INT64_MAX, v)) return Fail(kv.line, "times must be a positive number");
      e.times = v;
    } else if (kv.key == "status" && !e.isFile) {
      if (!ParseIntIn(kv.value, 100, 599, v)) return Fail(kv.line, "status must be 100 to 599");
      e.status = static_cast<int>(v);
    } else if (kv.key == "query" && !e.isFile) {
      for (const auto& pair : SplitWords(kv.value, false)) {
        const size_t eq = pair.find('=');
        if (eq == std::string::npos || eq == 0) return Fail(kv.line, "query items are name=value");
        e.query.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
      }
    } else {
      return Fail(kv.line, "unknown key \"" + kv.key + "\" in [" + b.kind + "]");
    }
  }
  if (e.isFile && e.body.kind == BodySource::Kind::None) return Fail(b.line, "a file needs source, generate or text");
  if (seedSeen && e.body.kind != BodySource::Kind::Generated) return Fail(b.line, "seed goes with generate");
  if (e.contentType.empty()) e.contentType = e.isFile ? "application/octet-stream" : "text/plain";
  m_out.entries.push_back(std::move(e));
  return true;
}

bool Builder::Fault(const Block& b) {
  if (!b.args.empty()) return Fail(b.line, "expected [fault]");
  makersim::Fault f;
  f.line = b.line;
  bool acts = false;
  bool lengthWhereSeen = false;
  std::set<std::string> seen;
  for (const auto& kv : b.keys) {
    if (!seen.insert(kv.key).second) return Fail(kv.line, "key \"" + kv.key + "\" given twice");
    int64_t v = 0;
    uint64_t u = 0;
    if (kv.key == "path") {
      if (!ParsePathPattern(kv.value, f.match)) return Fail(kv.line, "path must start with '/'");
    } else if (kv.key == "listeners") {
      if (!Listeners(kv, f.match.listeners)) return false;
    } else if (kv.key == "method") {
      if (!IsMethod(kv.value)) return Fail(kv.line, "method in capitals");
      f.method = kv.value;
    } else if (kv.key == "times") {
      if (!ParseIntIn(kv.value, 1, INT64_MAX, v)) return Fail(kv.line, "times must be a positive number");
      f.times = v;
    } else if (kv.key == "status") {
      if (!ParseIntIn(kv.value, 100, 599, v)) return Fail(kv.line, "status must be 100 to 599");
      f.status = static_cast<int>(v);
      acts = true;
    } else if (kv.key == "close_after") {
      if (!ParseU64(kv.value, u)) return Fail(kv.line, "close_after needs a byte count");
      f.closeAfter = u;
      acts = true;
    } else if (kv.key == "stall") {
      if (!ParseSeconds(kv.value, f.stallSeconds)) return Fail(kv.line, "stall needs seconds, above 0, at most 86400");
      acts = true;
    } else if (kv.key == "stall_after") {
      if (!ParseU64(kv.value, u)) return Fail(kv.line, "stall_after needs a byte count");
      f.stallAfter = u;
    } else if (kv.key == "ignore_range") {
      if (!ParseBool(kv.value, f.ignoreRange)) return Fail(kv.line, "ignore_range is yes or no");
      acts = acts || f.ignoreRange;
    } else if (kv.key == "content_length") {
      if (!ParseU64(kv.value, u)) return Fail(kv.line, "content_length needs a byte count");
      f.contentLength = u;
      acts = true;
    } else if (kv.key == "content_length_in") {
      lengthWhereSeen = true;
      if (kv.value == "head") {
        f.lengthInGet = false;
      } else if (kv.value == "get") {
        f.lengthInHead = false;
      } else if (kv.value != "both") {
        return Fail(kv.line, "content_length_in is head, get or both");
      }
    } else if (kv.key == "corrupt_at") {
      if (!ParseU64(kv.value, u)) return Fail(kv.line, "corrupt_at needs a byte offset");
      f.corruptAt = u;
      acts = true;
    } else {
      return Fail(kv.line, "unknown key \"" + kv.key + "\" in [fault]");
    }
  }
  if (!acts) return Fail(b.line, "a fault needs status, close_after, stall, ignore_range, content_length or corrupt_at");
  if (f.stallAfter && f.stallSeconds == 0) return Fail(b.line, "stall_after goes with stall");
  if (lengthWhereSeen && !f.contentLength) return Fail(b.line, "content_length_in goes with content_length");
  m_out.faults.push_back(std::move(f));
  return true;
}

}  // namespace

bool IsLoopbackAddress(const std::string& address) {
  in_addr a{};
  if (address.size() > 15 || inet_pton(AF_INET, address.c_str(), &a) != 1) return false;
  return (ntohl(a.s_addr) >> 24) == 127;
}

bool ParseScenario(const std::string& text, const std::string& folder, Scenario& out, std::string& error) {
  out = Scenario{};
  out.folder = folder.empty() ? "." : folder;
  std::vector<Block> blocks;
  int lineNo = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    std::string raw = text.substr(pos, nl - pos);
    pos = nl + 1;
    ++lineNo;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    for (unsigned char c : raw) {
      if (c < ' ' && c != '\t') {
        error = At(lineNo, "control character");
        return false;
      }
    }
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') {
        error = At(lineNo, "section line must end with ']'");
        return false;
      }
      Block b;
      b.line = lineNo;
      auto words = SplitWords(line.substr(1, line.size() - 2), false);
      if (words.empty()) {
        error = At(lineNo, "empty section name");
        return false;
      }
      b.kind = words[0];
      b.args.assign(words.begin() + 1, words.end());
      if (b.kind != "listener" && b.kind != "file" && b.kind != "route" && b.kind != "fault") {
        error = At(lineNo, "unknown section \"" + b.kind + "\" (listener, file, route, fault)");
        return false;
      }
      blocks.push_back(std::move(b));
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos) {
      error = At(lineNo, "expected \"key = value\"");
      return false;
    }
    if (blocks.empty()) {
      error = At(lineNo, "key outside a section");
      return false;
    }
    blocks.back().keys.push_back({Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)), lineNo});
  }

  // Listeners first, so blocks may name listeners declared further down.
  Builder builder(out, error);
  for (const auto& b : blocks) {
    if (b.kind == "listener" && !builder.Listener(b)) return false;
  }
  if (out.listeners.empty()) {
    error = "no [listener] section";
    return false;
  }
  for (const auto& b : blocks) {
    if ((b.kind == "file" || b.kind == "route") && !builder.Entry(b)) return false;
    if (b.kind == "fault" && !builder.Fault(b)) return false;
  }
  return true;
}

bool LoadScenario(const std::string& path, Scenario& out, std::string& error) {
  plat::UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.Valid() || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "cannot open scenario " + path;
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxScenarioBytes) {
    error = "scenario " + path + " is larger than 16 MiB";
    return false;
  }
  std::string text(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t r = read(fd.Get(), text.data() + got, text.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  text.resize(got);
  std::string folder = ".";
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos) folder = slash == 0 ? "/" : path.substr(0, slash);
  return ParseScenario(text, folder, out, error);
}

}  // namespace makersim
