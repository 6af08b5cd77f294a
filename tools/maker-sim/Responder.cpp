#include "Responder.h"

#include <httplib.h>

#include <algorithm>

namespace makersim {
namespace {

constexpr size_t kChunk = 256 * 1024;

enum class RangeKind { Whole, Part, Unsatisfiable };

// One "bytes=" range against a content of the given size. Several ranges are answered with
// the whole content, which a server may do.
RangeKind ResolveRange(const httplib::Request& req, uint64_t size, uint64_t& first, uint64_t& last) {
  if (req.ranges.size() != 1) return RangeKind::Whole;
  const auto [a, b] = req.ranges[0];
  if (a < 0 && b < 0) return RangeKind::Whole;
  if (size == 0) return RangeKind::Unsatisfiable;
  if (a < 0) {  // suffix: the last b bytes
    if (b == 0) return RangeKind::Unsatisfiable;
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(b), size);
    first = size - n;
    last = size - 1;
    return RangeKind::Part;
  }
  if (static_cast<uint64_t>(a) >= size) return RangeKind::Unsatisfiable;
  first = static_cast<uint64_t>(a);
  last = b < 0 ? size - 1 : std::min<uint64_t>(static_cast<uint64_t>(b), size - 1);
  if (last < first) return RangeKind::Unsatisfiable;
  return RangeKind::Part;
}

bool PathMatches(const Match& m, const std::string& path) {
  if (m.path.empty()) return true;
  if (m.prefix) return path.compare(0, m.path.size(), m.path) == 0;
  return path == m.path;
}

bool ListenerMatches(const Match& m, size_t listener) {
  return m.listeners.empty() || std::find(m.listeners.begin(), m.listeners.end(), listener) != m.listeners.end();
}

bool QueryHas(const std::string& query, const std::string& item) {
  size_t pos = 0;
  while (pos <= query.size()) {
    size_t amp = query.find('&', pos);
    if (amp == std::string::npos) amp = query.size();
    if (query.compare(pos, amp - pos, item) == 0 && amp - pos == item.size()) return true;
    pos = amp + 1;
  }
  return false;
}

// The body of one answer, streamed in chunks with the fault's actions on the way.
struct BodyStream {
  std::shared_ptr<const Content> content;
  uint64_t start = 0;
  uint64_t count = 0;
  uint64_t sent = 0;
  std::optional<uint64_t> closeAfter;
  std::optional<uint64_t> stallAfter;
  double stallSeconds = 0;
  bool stalled = false;
  std::optional<uint64_t> corruptAt;
  bool dropAtEnd = false;  // the announced length is not the body's: end by closing
  std::vector<char> buf;
};

bool Produce(BodyStream& s, Stopper& stopper, httplib::DataSink& sink) {
  if (stopper.Stopping()) return false;
  if (s.stallAfter && !s.stalled && s.sent == *s.stallAfter) {
    s.stalled = true;
    if (!stopper.SleepFor(s.stallSeconds)) return false;
  }
  if (s.closeAfter && s.sent >= *s.closeAfter) return false;
  if (s.sent == s.count) {
    if (s.dropAtEnd) return false;
    sink.done();
    return true;
  }
  uint64_t n = std::min<uint64_t>(s.count - s.sent, kChunk);
  if (s.closeAfter) n = std::min(n, *s.closeAfter - s.sent);
  if (s.stallAfter && !s.stalled && s.sent < *s.stallAfter) n = std::min(n, *s.stallAfter - s.sent);
  if (s.buf.size() < n) s.buf.resize(static_cast<size_t>(n));
  const uint64_t at = s.start + s.sent;
  if (!s.content->Read(at, s.buf.data(), static_cast<size_t>(n))) return false;
  if (s.corruptAt && *s.corruptAt >= at && *s.corruptAt < at + n) {
    s.buf[static_cast<size_t>(*s.corruptAt - at)] ^= static_cast<char>(0xFF);
  }
  if (!sink.write(s.buf.data(), static_cast<size_t>(n))) return false;
  s.sent += n;
  return true;
}

}  // namespace

Responder::Responder(const Scenario& scenario, std::vector<std::string> addresses, Recorder& recorder,
                     Stopper& stopper)
    : m_scenario(scenario), m_addresses(std::move(addresses)), m_recorder(recorder), m_stopper(stopper) {
  for (const auto& e : m_scenario.entries) m_entryLeft.push_back(e.times);
  for (const auto& f : m_scenario.faults) m_faultLeft.push_back(f.times);
}

bool Responder::Substitute(const std::string& in, std::string& out, std::string& error) const {
  out.clear();
  size_t pos = 0;
  while (true) {
    const size_t open = in.find("${", pos);
    if (open == std::string::npos) break;
    const size_t close = in.find('}', open);
    if (close == std::string::npos) break;
    const std::string ref = in.substr(open + 2, close - open - 2);
    const size_t colon = ref.find(':');
    const std::string kind = ref.substr(0, colon);
    if (colon == std::string::npos || (kind != "addr" && kind != "url")) {
      out.append(in, pos, close + 1 - pos);
      pos = close + 1;
      continue;
    }
    const std::string name = ref.substr(colon + 1);
    size_t index = m_scenario.listeners.size();
    for (size_t i = 0; i < m_scenario.listeners.size(); ++i) {
      if (m_scenario.listeners[i].name == name) index = i;
    }
    if (index == m_scenario.listeners.size()) {
      error = "unknown listener \"" + name + "\" in ${" + ref + "}";
      return false;
    }
    out.append(in, pos, open - pos);
    out += (kind == "url" ? "http://" : "") + m_addresses[index];
    pos = close + 1;
  }
  out.append(in, pos, std::string::npos);
  return true;
}

bool Responder::Prepare(std::string& error) {
  for (const auto& e : m_scenario.entries) {
    std::string text;
    if (!Substitute(e.body.text, text, error)) {
      error = "line " + std::to_string(e.line) + ": " + error;
      return false;
    }
    auto content = MakeContent(e.body, text, error);
    if (!content) {
      error = "line " + std::to_string(e.line) + ": " + error;
      return false;
    }
    m_contents.push_back(std::move(content));
    HeaderList headers;
    for (const auto& [name, value] : e.headers) {
      std::string v;
      if (!Substitute(value, v, error)) {
        error = "line " + std::to_string(e.line) + ": " + error;
        return false;
      }
      headers.emplace_back(name, v);
    }
    m_headers.push_back(std::move(headers));
  }
  return true;
}

int Responder::PickEntry(size_t listener, const std::string& method, const std::string& path,
                         const std::string& query) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (size_t i = 0; i < m_scenario.entries.size(); ++i) {
    const Entry& e = m_scenario.entries[i];
    if (m_entryLeft[i] == 0) continue;
    const bool methodOk = e.method == "ANY" || e.method == method || (method == "HEAD" && e.method == "GET");
    if (!methodOk || !PathMatches(e.match, path) || !ListenerMatches(e.match, listener)) continue;
    bool queryOk = true;
    for (const auto& [name, value] : e.query) queryOk = queryOk && QueryHas(query, name + "=" + value);
    if (!queryOk) continue;
    if (m_entryLeft[i] > 0) --m_entryLeft[i];
    return static_cast<int>(i);
  }
  return -1;
}

int Responder::PickFault(size_t listener, const std::string& method, const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (size_t i = 0; i < m_scenario.faults.size(); ++i) {
    const Fault& f = m_scenario.faults[i];
    if (m_faultLeft[i] == 0) continue;
    if (!f.method.empty() && f.method != method) continue;
    if (!PathMatches(f.match, path) || !ListenerMatches(f.match, listener)) continue;
    if (m_faultLeft[i] > 0) --m_faultLeft[i];
    return static_cast<int>(i);
  }
  return -1;
}

void Responder::Handle(size_t listener, const httplib::Request& req, httplib::Response& res) {
  m_recorder.Record(m_scenario.listeners[listener].name, m_addresses[listener], req);

  const size_t q = req.target.find('?');
  const std::string path = req.target.substr(0, q);
  const std::string query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
  const bool head = req.method == "HEAD";
  const int entryIndex = PickEntry(listener, req.method, path, query);
  const int faultIndex = PickFault(listener, req.method, path);
  const Fault* fault = faultIndex >= 0 ? &m_scenario.faults[static_cast<size_t>(faultIndex)] : nullptr;

  if (fault && fault->stallSeconds > 0 && !fault->stallAfter && !m_stopper.SleepFor(fault->stallSeconds)) {
    res.status = 503;
    res.set_header("Connection", "close");
    return;
  }
  const bool lengthLies = fault && fault->contentLength && (head ? fault->lengthInHead : fault->lengthInGet);
  if (fault && fault->status != 0) {
    res.status = fault->status;
    res.set_header("Content-Length", lengthLies ? std::to_string(*fault->contentLength) : "0");
    return;
  }
  if (entryIndex < 0) {
    res.status = 404;
    res.set_header("Content-Length", "0");
    return;
  }

  const Entry& entry = m_scenario.entries[static_cast<size_t>(entryIndex)];
  const auto& content = m_contents[static_cast<size_t>(entryIndex)];
  const uint64_t size = content->Size();
  uint64_t first = 0, last = size == 0 ? 0 : size - 1;
  uint64_t count = size;
  res.status = entry.status;
  for (const auto& [name, value] : m_headers[static_cast<size_t>(entryIndex)]) res.set_header(name, value);
  if (entry.isFile) {
    res.set_header("Accept-Ranges", "bytes");
    const RangeKind kind = (fault && fault->ignoreRange) ? RangeKind::Whole : ResolveRange(req, size, first, last);
    if (kind == RangeKind::Unsatisfiable) {
      res.status = 416;
      res.set_header("Content-Range", "bytes */" + std::to_string(size));
      res.set_header("Content-Length", "0");
      return;
    }
    if (kind == RangeKind::Part) {
      res.status = 206;
      count = last - first + 1;
      res.set_header("Content-Range",
                     "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size));
    } else {
      first = 0;
    }
  }
  res.set_header("Content-Length", std::to_string(lengthLies ? *fault->contentLength : count));
  if (head) {
    res.set_header("Content-Type", entry.contentType);
    return;
  }

  auto stream = std::make_shared<BodyStream>();
  stream->content = content;
  stream->start = first;
  stream->count = count;
  stream->dropAtEnd = lengthLies && *fault->contentLength != count;
  if (fault) {
    stream->closeAfter = fault->closeAfter;
    stream->stallAfter = fault->stallAfter;
    stream->stallSeconds = fault->stallSeconds;
    stream->corruptAt = fault->corruptAt;
  }
  Stopper& stopper = m_stopper;
  res.set_content_provider(entry.contentType, [stream, &stopper](size_t, httplib::DataSink& sink) {
    return Produce(*stream, stopper, sink);
  });
}

}  // namespace makersim
