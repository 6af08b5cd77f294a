#include "reporting/TrackRecord.h"

#include <algorithm>

#include "platform/TextConv.h"

namespace {
// The maker's platform host until the product configuration names its own.
constexpr const wchar_t* kDefaultPlatformHost = L"http://platform.corvane.com/";
constexpr size_t kMaxPageEvents = 100;
constexpr size_t kMaxPageEventLength = 256;
constexpr size_t kJoinLimit = 2000;
}  // namespace

TrackRecord::TrackRecord() : m_platformHost(kDefaultPlatformHost), m_startTime(std::time(nullptr)) {}

TrackRecord& TrackRecord::Instance() {
  static TrackRecord record;
  return record;
}

void TrackRecord::SetText(const std::string& key, const std::wstring& text) {
  std::string value = plat::WideToAnsi(text);
  std::lock_guard<std::mutex> g(m_fieldsLock);
  m_fields[key] = std::move(value);
}

void TrackRecord::SetInt(const std::string& key, int value) {
  std::lock_guard<std::mutex> g(m_fieldsLock);
  m_fields[key] = std::to_string(value);
}

void TrackRecord::SetInt64(const std::string& key, int64_t value) {
  std::lock_guard<std::mutex> g(m_fieldsLock);
  m_fields[key] = std::to_string(value);
}

std::optional<std::string> TrackRecord::Get(const std::string& key) const {
  std::lock_guard<std::mutex> g(m_fieldsLock);
  auto it = m_fields.find(key);
  if (it == m_fields.end()) return std::nullopt;
  return it->second;
}

std::map<std::string, std::string> TrackRecord::Fields() const {
  std::lock_guard<std::mutex> g(m_fieldsLock);
  return m_fields;
}

void TrackRecord::CountCdnAddress(const std::string& address) {
  std::lock_guard<std::mutex> g(m_countsLock);
  ++m_cdnAddresses[address];
}

void TrackRecord::CountCdnUrl(const std::string& url) {
  std::lock_guard<std::mutex> g(m_countsLock);
  ++m_cdnUrls[url];
}

std::map<std::string, int> TrackRecord::CdnAddresses() const {
  std::lock_guard<std::mutex> g(m_countsLock);
  return m_cdnAddresses;
}

std::map<std::string, int> TrackRecord::CdnUrls() const {
  std::lock_guard<std::mutex> g(m_countsLock);
  return m_cdnUrls;
}

BoundTask& TrackRecord::Bound(int productId) { return m_bound[productId]; }

void TrackRecord::SetBoundForce(int productId, int force) {
  std::lock_guard<std::mutex> g(m_boundLock);
  Bound(productId).forceInstall = force;
}

void TrackRecord::SetBoundDownTimes(int productId, int64_t start, int64_t end) {
  std::lock_guard<std::mutex> g(m_boundLock);
  BoundTask& t = Bound(productId);
  t.downStart = start;
  t.downEnd = end;
}

void TrackRecord::SetBoundDownFail(int productId, int code) {
  std::lock_guard<std::mutex> g(m_boundLock);
  Bound(productId).downFailCode = code;
}

void TrackRecord::SetBoundInstallTimes(int productId, int64_t start, int64_t end) {
  std::lock_guard<std::mutex> g(m_boundLock);
  BoundTask& t = Bound(productId);
  t.installStart = start;
  t.installEnd = end;
}

void TrackRecord::SetBoundInstallFail(int productId, int code) {
  std::lock_guard<std::mutex> g(m_boundLock);
  Bound(productId).installFailCode = code;
}

void TrackRecord::SetBoundMd5List(int productId, const std::string& md5List) {
  std::lock_guard<std::mutex> g(m_boundLock);
  Bound(productId).md5List = md5List;
}

std::map<int, BoundTask> TrackRecord::BoundTasks() const {
  std::lock_guard<std::mutex> g(m_boundLock);
  return m_bound;
}

void TrackRecord::AddStepNote(const std::string& key, const std::string& value, bool quoted) {
  const std::string note = quoted ? "{\"" + key + "\":\"" + value + "\"}" : "{\"" + key + "\":" + value + "}";
  std::lock_guard<std::mutex> g(m_fieldsLock);
  if (std::find(m_stepNotes.begin(), m_stepNotes.end(), note) == m_stepNotes.end()) m_stepNotes.push_back(note);
}

void TrackRecord::AddPageEvent(const std::string& text) {
  if (text.size() > kMaxPageEventLength) return;
  // The first member's name and colon take the first 7 characters, as in {"key":
  static const std::string kEvent = ",\"event\"";
  static const std::string kTime = "\",\"time\":\"";
  static const std::string kData = "\",\"data\":\"";
  if (text.size() < 8) return;
  const size_t ev = text.find(kEvent);
  const size_t tm = text.find(kTime);
  const size_t da = text.find(kData);
  if (ev == std::string::npos || tm == std::string::npos || da == std::string::npos) return;
  if (ev < 7 || tm < ev + kEvent.size() || da < tm + kTime.size()) return;
  const std::string id = text.substr(7, ev - 7);  // "ID"
  const std::string name = text.substr(ev + kEvent.size(), tm - ev - kEvent.size());  // :"NAME
  const std::string time = text.substr(tm + kTime.size(), da - tm - kTime.size());
  const std::string data = text.substr(da + kData.size());  // DATA"}
  const std::string stored = "{" + id + name + "," + time + "," + data;
  std::lock_guard<std::mutex> g(m_fieldsLock);
  if (m_pageEvents.size() >= kMaxPageEvents) return;
  m_pageEvents.push_back(stored);
}

std::vector<std::string> TrackRecord::StepNotes() const {
  std::lock_guard<std::mutex> g(m_fieldsLock);
  return m_stepNotes;
}

std::vector<std::string> TrackRecord::PageEvents() const {
  std::lock_guard<std::mutex> g(m_fieldsLock);
  return m_pageEvents;
}

void TrackRecord::SetCrashRecord(const CrashRecord& record) {
  std::lock_guard<std::mutex> g(m_crashLock);
  m_crash = record;
}

CrashRecord TrackRecord::Crash() const {
  std::lock_guard<std::mutex> g(m_crashLock);
  return m_crash;
}

void TrackRecord::SetPlatformHost(const std::wstring& host) {
  std::lock_guard<std::mutex> g(m_fieldsLock);
  m_platformHost = host;
}

std::wstring TrackRecord::PlatformHost() const {
  std::lock_guard<std::mutex> g(m_fieldsLock);
  return m_platformHost;
}

std::string TrackRecord::JoinLimited(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) {
    if (out.size() > kJoinLimit) break;
    if (!out.empty()) out += ",";
    out += item;
  }
  return out;
}

void TrackRecord::ResetForTesting() {
  {
    std::lock_guard<std::mutex> g(m_fieldsLock);
    m_fields.clear();
    m_stepNotes.clear();
    m_pageEvents.clear();
    m_platformHost = kDefaultPlatformHost;
  }
  {
    std::lock_guard<std::mutex> g(m_countsLock);
    m_cdnAddresses.clear();
    m_cdnUrls.clear();
  }
  {
    std::lock_guard<std::mutex> g(m_boundLock);
    m_bound.clear();
  }
  SetCrashRecord(CrashRecord{});
  reportEnabled = false;
  forkMode = false;
  firstInstall = true;
}
