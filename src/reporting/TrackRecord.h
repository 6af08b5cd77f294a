#pragma once
// The run's key/value record, filled by every stage and posted once when the run ends.
// This is its data side: the fields and their locks; the report itself is built elsewhere.
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct BoundTask {
  int forceInstall = 0;
  int64_t downStart = 0;
  int64_t downEnd = 0;
  int downFailCode = 0;
  int64_t installStart = 0;
  int64_t installEnd = 0;
  int installFailCode = 0;
  std::string md5List;
};

struct CrashRecord {
  int crash = 0;
  int code = 0;
  uint32_t address = 0;
  int offset = 0;
  std::wstring fileName = L"-";
  std::wstring section = L"-";
};

class TrackRecord {
 public:
  static TrackRecord& Instance();

  // Fields, ordered by key. Values are narrow (the ANSI code page, UTF-8 here).
  void SetText(const std::string& key, const std::wstring& text);
  void SetInt(const std::string& key, int value);
  void SetInt64(const std::string& key, int64_t value);
  std::optional<std::string> Get(const std::string& key) const;
  std::map<std::string, std::string> Fields() const;

  void CountCdnAddress(const std::string& address);
  void CountCdnUrl(const std::string& url);
  std::map<std::string, int> CdnAddresses() const;
  std::map<std::string, int> CdnUrls() const;

  // Each setter creates the entry of the product id when missing.
  void SetBoundForce(int productId, int force);
  void SetBoundDownTimes(int productId, int64_t start, int64_t end);
  void SetBoundDownFail(int productId, int code);
  void SetBoundInstallTimes(int productId, int64_t start, int64_t end);
  void SetBoundInstallFail(int productId, int code);
  void SetBoundMd5List(int productId, const std::string& md5List);
  std::map<int, BoundTask> BoundTasks() const;

  // {"key":"value"} when quoted, else {"key":value}; an equal note is kept once.
  void AddStepNote(const std::string& key, const std::string& value, bool quoted);
  // {"key":"ID","event":"NAME","time":"TIME","data":"DATA"} is kept as {"ID":"NAME,TIME,DATA"}.
  // Texts over 256 characters, and any beyond the 100th, are dropped.
  void AddPageEvent(const std::string& text);
  std::vector<std::string> StepNotes() const;
  std::vector<std::string> PageEvents() const;

  void SetCrashRecord(const CrashRecord& record);
  CrashRecord Crash() const;

  void SetPlatformHost(const std::wstring& host);
  std::wstring PlatformHost() const;

  std::time_t StartTime() const { return m_startTime; }
  bool reportEnabled = false;
  bool forkMode = false;
  bool firstInstall = true;

  // The fields lock, for the report that must hold it while it posts and saves.
  std::mutex& FieldsLock() const { return m_fieldsLock; }

  // Items joined by ","; appending stops once the text exceeds 2000 characters (the item
  // that crosses the limit stays in).
  static std::string JoinLimited(const std::vector<std::string>& items);

  void ResetForTesting();

 private:
  TrackRecord();
  BoundTask& Bound(int productId);

  mutable std::mutex m_fieldsLock;
  std::map<std::string, std::string> m_fields;
  std::vector<std::string> m_stepNotes;
  std::vector<std::string> m_pageEvents;
  std::wstring m_platformHost;

  mutable std::mutex m_countsLock;
  std::map<std::string, int> m_cdnAddresses;
  std::map<std::string, int> m_cdnUrls;

  mutable std::mutex m_boundLock;
  std::map<int, BoundTask> m_bound;

  mutable std::mutex m_crashLock;
  CrashRecord m_crash;
  std::time_t m_startTime;
};

// The setters every stage calls.
inline void SetTrackText(const std::string& key, const std::wstring& text) { TrackRecord::Instance().SetText(key, text); }
inline void SetTrackInt(const std::string& key, int value) { TrackRecord::Instance().SetInt(key, value); }
inline void SetTrackInt64(const std::string& key, int64_t value) { TrackRecord::Instance().SetInt64(key, value); }
