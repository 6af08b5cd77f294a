#include "Recorder.h"

#include <fcntl.h>
#include <httplib.h>

#include <cerrno>
#include <cstring>

namespace makersim {
namespace {

// Length of the valid UTF-8 sequence starting at s[i], 0 when there is none.
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  size_t len = 0;
  uint32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
  if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
  return len;
}

void AppendField(std::string& out, const char* name, std::string_view value) {
  out += ",\"";
  out += name;
  out += "\":";
  AppendJsonString(out, value);
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view s) {
  static const char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const size_t len = Utf8SequenceLength(s, i);
      if (len > 0) {
        out.append(s.substr(i, len));
        i += len;
        continue;
      }
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 15]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
  out.push_back('"');
}

bool Recorder::Open(const std::string& path, std::string& error) {
  if (path.empty()) return true;
  m_fd = plat::UniqueFd(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!m_fd.Valid()) {
    error = "cannot open record file " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void Recorder::Record(const std::string& listener, const std::string& local, const httplib::Request& req) {
  if (!m_fd.Valid()) return;
  const std::string& target = req.target;
  const size_t q = target.find('?');
  std::string line;
  line.reserve(256 + req.body.size());

  std::lock_guard<std::mutex> lock(m_mutex);
  line += "{\"seq\":" + std::to_string(++m_seq);
  AppendField(line, "listener", listener);
  AppendField(line, "local", local);
  AppendField(line, "remote", req.remote_addr + ":" + std::to_string(req.remote_port));
  AppendField(line, "method", req.method);
  AppendField(line, "target", target);
  AppendField(line, "path", std::string_view(target).substr(0, q));
  AppendField(line, "query", q == std::string::npos ? std::string_view() : std::string_view(target).substr(q + 1));
  AppendField(line, "version", req.version);
  line += ",\"headers\":[";
  bool first = true;
  for (const auto& [name, value] : req.headers) {
    // The library adds these itself; they were not on the wire.
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") continue;
    if (!first) line.push_back(',');
    first = false;
    line.push_back('[');
    AppendJsonString(line, name);
    line.push_back(',');
    AppendJsonString(line, value);
    line.push_back(']');
  }
  line += "]";
  AppendField(line, "body", req.body);
  line += ",\"parts\":[";
  first = true;
  for (const auto& [key, part] : req.files) {
    (void)key;
    if (!first) line.push_back(',');
    first = false;
    line += "{\"name\":";
    AppendJsonString(line, part.name);
    AppendField(line, "filename", part.filename);
    AppendField(line, "content_type", part.content_type);
    AppendField(line, "content", part.content);
    line.push_back('}');
  }
  line += "]}\n";

  size_t done = 0;
  while (done < line.size()) {
    const ssize_t w = write(m_fd.Get(), line.data() + done, line.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    done += static_cast<size_t>(w);
  }
}

}  // namespace makersim
