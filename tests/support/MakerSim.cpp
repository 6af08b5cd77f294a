#include "support/MakerSim.h"

#include "platform/TextConv.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

#include "support/Sandbox.h"

namespace qevtest {
namespace {

constexpr auto kReadyWait = std::chrono::seconds(10);
constexpr auto kStopWait = std::chrono::seconds(10);

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

int DecodeWait(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// A reader for the record lines maker-sim writes: objects, arrays, strings and integers.
// "\u0000".."\u00ff" are single bytes (that is how the writer keeps non-UTF-8 bytes).
struct JsonValue {
  enum class Kind { Null, Number, String, Array, Object } kind = Kind::Null;
  uint64_t number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  const JsonValue* Get(const std::string& name) const {
    for (const auto& [k, v] : members) {
      if (k == name) return &v;
    }
    return nullptr;
  }
  std::string Text(const std::string& name) const {
    const JsonValue* v = Get(name);
    return v && v->kind == Kind::String ? v->text : std::string();
  }
};

class JsonReader {
 public:
  explicit JsonReader(std::string_view s) : m_s(s) {}

  bool ReadDocument(JsonValue& out) {
    if (!Read(out, 0)) return false;
    Skip();
    return m_pos == m_s.size();
  }

 private:
  void Skip() {
    while (m_pos < m_s.size() && (m_s[m_pos] == ' ' || m_s[m_pos] == '\t' || m_s[m_pos] == '\r')) ++m_pos;
  }
  bool Eat(char c) {
    Skip();
    if (m_pos < m_s.size() && m_s[m_pos] == c) {
      ++m_pos;
      return true;
    }
    return false;
  }
  static int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  bool ReadString(std::string& out) {
    if (!Eat('"')) return false;
    out.clear();
    while (m_pos < m_s.size()) {
      const char c = m_s[m_pos++];
      if (c == '"') return true;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (m_pos >= m_s.size()) return false;
      const char e = m_s[m_pos++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'u': {
          if (m_pos + 4 > m_s.size()) return false;
          uint32_t cp = 0;
          for (int i = 0; i < 4; ++i) {
            const int h = Hex(m_s[m_pos++]);
            if (h < 0) return false;
            cp = cp * 16 + static_cast<uint32_t>(h);
          }
          if (cp < 0x100) {
            out.push_back(static_cast<char>(cp));
          } else {
            plat::AppendUtf8(out, cp);
          }
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  bool Read(JsonValue& out, int depth) {
    if (depth > 16) return false;
    Skip();
    if (m_pos >= m_s.size()) return false;
    const char c = m_s[m_pos];
    if (c == '"') {
      out.kind = JsonValue::Kind::String;
      return ReadString(out.text);
    }
    if (c >= '0' && c <= '9') {
      out.kind = JsonValue::Kind::Number;
      while (m_pos < m_s.size() && m_s[m_pos] >= '0' && m_s[m_pos] <= '9') {
        out.number = out.number * 10 + static_cast<uint64_t>(m_s[m_pos++] - '0');
      }
      return true;
    }
    if (c == '[') {
      ++m_pos;
      out.kind = JsonValue::Kind::Array;
      if (Eat(']')) return true;
      do {
        out.items.emplace_back();
        if (!Read(out.items.back(), depth + 1)) return false;
      } while (Eat(','));
      return Eat(']');
    }
    if (c == '{') {
      ++m_pos;
      out.kind = JsonValue::Kind::Object;
      if (Eat('}')) return true;
      do {
        std::string name;
        if (!ReadString(name) || !Eat(':')) return false;
        out.members.emplace_back(std::move(name), JsonValue{});
        if (!Read(out.members.back().second, depth + 1)) return false;
      } while (Eat(','));
      return Eat('}');
    }
    return false;
  }

  std::string_view m_s;
  size_t m_pos = 0;
};

bool ToRequest(const JsonValue& v, RecordedRequest& r) {
  if (v.kind != JsonValue::Kind::Object) return false;
  if (const JsonValue* seq = v.Get("seq")) r.seq = seq->number;
  r.listener = v.Text("listener");
  r.local = v.Text("local");
  r.remote = v.Text("remote");
  r.method = v.Text("method");
  r.target = v.Text("target");
  r.path = v.Text("path");
  r.query = v.Text("query");
  r.version = v.Text("version");
  r.body = v.Text("body");
  if (const JsonValue* headers = v.Get("headers")) {
    for (const auto& h : headers->items) {
      if (h.items.size() == 2) r.headers.emplace_back(h.items[0].text, h.items[1].text);
    }
  }
  if (const JsonValue* parts = v.Get("parts")) {
    for (const auto& p : parts->items) {
      r.parts.push_back({p.Text("name"), p.Text("filename"), p.Text("content_type"), p.Text("content")});
    }
  }
  return true;
}

uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& [k, v] : headers) {
    if (SameText(k, name)) return v;
  }
  return std::string();
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  for (const auto& h : headers) {
    if (SameText(h.first, name)) return true;
  }
  return false;
}

MakerSim::MakerSim() {
  std::error_code ec;
  const auto base = std::filesystem::temp_directory_path(ec);
  std::string tmpl = (ec ? std::filesystem::path("/tmp") : base).string() + "/qev-makersim-XXXXXX";
  if (mkdtemp(tmpl.data())) m_folder = tmpl;
}

MakerSim::~MakerSim() {
  Stop();
  if (!m_folder.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(m_folder, ec);
  }
}

bool MakerSim::Start(const std::string& scenarioText) {
  Stop();
  m_error.clear();
  m_addresses.clear();
  m_exitCode = -1;
  if (m_folder.empty()) {
    m_error = "no temporary folder";
    return false;
  }
  const std::string scenario = m_folder + "/scenario.ini";
  const std::string record = m_folder + "/record.jsonl";
  const std::string ready = m_folder + "/ready";
  const std::string log = m_folder + "/stderr.log";
  std::remove(record.c_str());
  std::remove(ready.c_str());
  if (!WriteAll(scenario, scenarioText)) {
    m_error = "cannot write " + scenario;
    return false;
  }

  // Everything the child needs is built before fork: after it only async-signal-safe calls.
  std::vector<std::string> args = {BinPath("maker-sim"), "--scenario", scenario, "--record", record,
                                   "--ready-file", ready};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (logFd < 0 || nullFd < 0) {
    if (logFd >= 0) close(logFd);
    if (nullFd >= 0) close(nullFd);
    m_error = "cannot open " + log;
    return false;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(nullFd, 0);
    dup2(nullFd, 1);
    dup2(logFd, 2);
    close_range(3, ~0u, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(logFd);
  close(nullFd);
  if (pid < 0) {
    m_error = "fork failed";
    return false;
  }
  m_pid = pid;
  if (WaitReady()) return true;
  Stop();
  m_error += "\nmaker-sim said: " + ReadAll(log);
  return false;
}

bool MakerSim::WaitReady() {
  const std::string ready = m_folder + "/ready";
  const auto deadline = std::chrono::steady_clock::now() + kReadyWait;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      m_exitCode = DecodeWait(status);
      m_error = "maker-sim exited with code " + std::to_string(m_exitCode);
      return false;
    }
    struct stat st {};
    if (stat(ready.c_str(), &st) == 0) {
      std::istringstream in(ReadAll(ready));
      std::string name, address;
      while (in >> name >> address) m_addresses[name] = address;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  m_error = "maker-sim did not report ready";
  return false;
}

std::string MakerSim::Address(const std::string& listener) const {
  const auto it = m_addresses.find(listener);
  return it == m_addresses.end() ? std::string() : it->second;
}

std::string MakerSim::BaseUrl(const std::string& listener) const {
  const std::string a = Address(listener);
  return a.empty() ? a : "http://" + a;
}

int MakerSim::Port(const std::string& listener) const {
  const std::string a = Address(listener);
  const size_t colon = a.rfind(':');
  if (colon == std::string::npos) return 0;
  return std::atoi(a.c_str() + colon + 1);
}

std::vector<RecordedRequest> MakerSim::Requests() const {
  std::vector<RecordedRequest> out;
  if (m_folder.empty()) return out;
  const std::string text = ReadAll(m_folder + "/record.jsonl");
  size_t pos = 0;
  while (true) {
    const size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) break;  // a line still being written
    JsonValue v;
    RecordedRequest r;
    if (JsonReader(std::string_view(text).substr(pos, nl - pos)).ReadDocument(v) && ToRequest(v, r)) {
      out.push_back(std::move(r));
    }
    pos = nl + 1;
  }
  return out;
}

void MakerSim::Stop() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopWait;
  int status = 0;
  while (true) {
    const pid_t r = waitpid(m_pid, &status, WNOHANG);
    if (r == m_pid) break;
    if (r < 0) {
      status = -1;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  m_exitCode = status == -1 ? -1 : DecodeWait(status);
  m_pid = -1;
}

std::string MakerSim::GeneratedBytes(uint64_t seed, uint64_t offset, size_t length) {
  constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;
  const uint64_t key = Mix(seed + kGolden);
  std::string out;
  out.reserve(length);
  for (uint64_t at = offset; at < offset + length; ++at) {
    const uint64_t word = Mix(key + (at / 8 + 1) * kGolden);
    out.push_back(static_cast<char>(word >> (8 * (at % 8))));
  }
  return out;
}

}  // namespace qevtest
