#include "platform/Registry.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>

#include "platform/Diagnostics.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"

namespace plat {

namespace {

constexpr size_t kMaxKeyComponent = 255;
constexpr size_t kMaxValueName = 16383;
constexpr int kDefaultBusyMs = 5000;
constexpr int kMaxBusyMs = 600000;
// A body's answer for "nothing there": the transaction is rolled back, no fault reported.
constexpr int kMissing = -1;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    " hive INTEGER NOT NULL, uid INTEGER NOT NULL, view INTEGER NOT NULL,"
    " path_lower TEXT NOT NULL, parent_lower TEXT NOT NULL, name TEXT NOT NULL, path TEXT NOT NULL,"
    " PRIMARY KEY(hive, uid, view, path_lower)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS reg_keys_parent ON reg_keys(hive, uid, view, parent_lower);"
    "CREATE TABLE IF NOT EXISTS reg_values("
    " hive INTEGER NOT NULL, uid INTEGER NOT NULL, view INTEGER NOT NULL,"
    " path_lower TEXT NOT NULL, name_lower TEXT NOT NULL, name TEXT NOT NULL,"
    " type INTEGER NOT NULL, text TEXT, dword INTEGER,"
    " PRIMARY KEY(hive, uid, view, path_lower, name_lower)) WITHOUT ROWID;";

// Which rows a call sees: the hive, the user for HKCU, the view for HKLM.
struct Scope {
  int hive = 0;
  int64_t uid = -1;
  int view = 0;
};

Scope ScopeOf(Hive hive, RegView view) {
  Scope s;
  switch (hive) {
    case Hive::LocalMachine:
      s.hive = 1;
      s.view = view == RegView::View32 ? 32 : 64;
      break;
    case Hive::CurrentUser:
      s.hive = 2;
      // The effective user outside a sandbox; inside one no rights change is simulated.
      s.uid = SysRoot().empty() ? static_cast<int64_t>(geteuid()) : static_cast<int64_t>(getuid());
      break;
    case Hive::ClassesRoot:
      s.hive = 3;
      break;
  }
  return s;
}

// A key path cut into its components as written; empty components are dropped.
struct KeyPath {
  std::vector<std::wstring> parts;

  // The first n components, case-folded, joined by '\'.
  std::string Lower(size_t n) const { return WideToUtf8(ToLowerAscii(Written(n))); }
  std::string Lower() const { return Lower(parts.size()); }
  std::wstring Written(size_t n) const {
    std::wstring out;
    for (size_t i = 0; i < n && i < parts.size(); ++i) {
      if (i) out.push_back(L'\\');
      out += parts[i];
    }
    return out;
  }
};

bool SplitKey(const std::wstring& key, KeyPath& out) {
  out.parts.clear();
  size_t start = 0;
  while (start <= key.size()) {
    size_t end = key.find(L'\\', start);
    if (end == std::wstring::npos) end = key.size();
    if (end > start) {
      if (end - start > kMaxKeyComponent) return false;
      out.parts.emplace_back(key, start, end - start);
    }
    start = end + 1;
  }
  return true;
}

bool ValidValueName(const std::wstring& name) { return name.size() <= kMaxValueName; }

std::string LowerName(const std::wstring& name) { return WideToUtf8(ToLowerAscii(name)); }

int BusyMs() {
  const char* env = std::getenv("QEV_REGISTRY_BUSY_MS");
  if (!env || !*env || std::strlen(env) > 7) return kDefaultBusyMs;
  int ms = 0;
  for (const char* p = env; *p; ++p) {
    if (*p < '0' || *p > '9') return kDefaultBusyMs;
    ms = ms * 10 + (*p - '0');
  }
  return ms > kMaxBusyMs ? kMaxBusyMs : ms;
}

// One report per store file and kind of fault, so a damaged store does not flood the log
// while every call keeps failing on it.
void ReportOnce(int level, const char* what, const std::string& path, const std::string& message) {
  static std::mutex mutex;
  static std::set<std::string> reported;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!reported.insert(std::string(what) + '\n' + path).second) return;
  }
  ReportDiagnostic(level, Format("%s registry store %s, path=[%s], error=[%s]", level == 1 ? "[ERROR]" : "[WARN]",
                                 what, path.c_str(), message.c_str()));
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // SQLITE_OK when prepared.
  int Prepared() const { return m_rc; }
  void Bind(int index, int64_t value) { sqlite3_bind_int64(m_stmt, index, value); }
  void Bind(int index, const std::string& text) {
    sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void BindNull(int index) { sqlite3_bind_null(m_stmt, index); }
  void BindScope(const Scope& s) {
    Bind(1, s.hive);
    Bind(2, s.uid);
    Bind(3, s.view);
  }
  int Step() { return sqlite3_step(m_stmt); }
  void Reset() { sqlite3_reset(m_stmt); }
  int64_t Int(int col) { return sqlite3_column_int64(m_stmt, col); }
  bool IsNull(int col) { return sqlite3_column_type(m_stmt, col) == SQLITE_NULL; }
  std::wstring WideText(int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
    const int n = sqlite3_column_bytes(m_stmt, col);
    return p ? Utf8ToWide(std::string_view(p, static_cast<size_t>(n))) : std::wstring();
  }

 private:
  sqlite3_stmt* m_stmt = nullptr;
  int m_rc = SQLITE_ERROR;
};

// This thread's connection, reopened when the store path changes (another sandbox), the
// file is replaced, or the process was forked (a connection must not cross a fork).
struct Connection {
  sqlite3* db = nullptr;
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
  pid_t pid = 0;
  bool schema = false;

  ~Connection() { Close(); }
  void Close() {
    // A connection inherited through fork() belongs to the parent: leave it alone.
    if (db && pid == getpid()) {
      // When the file under this name is no longer ours, closing must neither checkpoint
      // nor remove the "-wal"/"-shm" files: they may belong to the new store now.
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0 || st.st_dev != dev || st.st_ino != ino) {
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
      }
      sqlite3_close_v2(db);
    }
    db = nullptr;
    schema = false;
  }
};

thread_local Connection t_conn;

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// Classifies a failed call, reports it once and drops a connection that cannot recover.
RegStatus Fail(int rc, const std::string& message) {
  const std::string path = t_conn.path.empty() ? Registry::StorePath() : t_conn.path;
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      ReportOnce(2, "is busy", path, message);
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      ReportOnce(1, "is corrupt", path, message);
      t_conn.Close();
      break;
    default:
      ReportOnce(1, "cannot be used", path, message);
      t_conn.Close();
      break;
  }
  return RegStatus::StoreFailure;
}

RegStatus FailOn(sqlite3* db, int rc) { return Fail(rc, Format("%s (%d)", sqlite3_errmsg(db), rc)); }

// Opens or reuses this thread's connection. Reads never create the store: no file, nothing
// stored.
RegStatus Acquire(bool forWrite, sqlite3*& db) {
  const std::string path = Registry::StorePath();
  struct stat st {};
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (t_conn.db && t_conn.pid != getpid()) {
    t_conn.db = nullptr;
    t_conn.schema = false;
  }
  if (t_conn.db && (t_conn.path != path || !exists || st.st_dev != t_conn.dev || st.st_ino != t_conn.ino)) {
    t_conn.Close();
  }
  if (!t_conn.db) {
    if (!exists) {
      if (!forWrite) return RegStatus::NotFound;
      const std::string folder = path.substr(0, path.rfind('/') + 1);
      if (!CreateFolderTree(folder)) {
        t_conn.path = path;
        return Fail(SQLITE_CANTOPEN, Format("cannot create folder %s: %s", folder.c_str(), std::strerror(errno)));
      }
    }
    sqlite3* opened = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (forWrite ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &opened, flags, nullptr);
    t_conn.path = path;
    if (rc != SQLITE_OK) {
      const std::string message = opened ? sqlite3_errmsg(opened) : sqlite3_errstr(rc);
      sqlite3_close_v2(opened);
      if (!forWrite && ::stat(path.c_str(), &st) != 0) return RegStatus::NotFound;
      return Fail(rc, Format("%s (%d)", message.c_str(), rc));
    }
    sqlite3_extended_result_codes(opened, 1);
    sqlite3_busy_timeout(opened, BusyMs());
    rc = Exec(opened, "PRAGMA journal_mode=WAL");
    if (rc == SQLITE_OK) rc = Exec(opened, "PRAGMA synchronous=NORMAL");
    if (rc != SQLITE_OK) {
      const std::string message = Format("%s (%d)", sqlite3_errmsg(opened), rc);
      sqlite3_close_v2(opened);
      return Fail(rc, message);
    }
    if (::stat(path.c_str(), &st) != 0) {
      sqlite3_close_v2(opened);
      return Fail(SQLITE_CANTOPEN, "store file vanished while opening");
    }
    t_conn.db = opened;
    t_conn.dev = st.st_dev;
    t_conn.ino = st.st_ino;
    t_conn.pid = getpid();
    t_conn.schema = false;
  }
  sqlite3_busy_timeout(t_conn.db, BusyMs());
  db = t_conn.db;
  return RegStatus::Ok;
}

// Whether the tables exist; a store nobody wrote to yet holds nothing.
int CheckSchema(sqlite3* db, bool& present) {
  Statement q(db, "SELECT count(*) FROM sqlite_schema WHERE type='table' AND name IN ('reg_keys','reg_values')");
  if (q.Prepared() != SQLITE_OK) return q.Prepared();
  const int rc = q.Step();
  if (rc != SQLITE_ROW) return rc;
  present = q.Int(0) == 2;
  return SQLITE_OK;
}

// Runs body(db) in one transaction of this thread's connection. Writes take the write lock
// up front (BEGIN IMMEDIATE), so two writers wait for each other instead of failing on a
// lock upgrade. body returns SQLITE_OK, kMissing, or the failing sqlite result code.
template <class Body>
RegStatus Transact(bool write, Body&& body) {
  sqlite3* db = nullptr;
  RegStatus status = Acquire(write, db);
  if (status != RegStatus::Ok) return status;
  if (!write && !t_conn.schema) {
    bool present = false;
    const int rc = CheckSchema(db, present);
    if (rc != SQLITE_OK) return FailOn(db, rc);
    if (!present) return RegStatus::NotFound;
    t_conn.schema = true;
  }
  int rc = Exec(db, write ? "BEGIN IMMEDIATE" : "BEGIN");
  if (rc != SQLITE_OK) return FailOn(db, rc);
  if (write && !t_conn.schema) rc = Exec(db, kSchema);
  if (rc == SQLITE_OK) rc = body(db);
  if (rc == SQLITE_OK) {
    rc = Exec(db, "COMMIT");
    if (rc == SQLITE_OK) {
      if (write) t_conn.schema = true;
      return RegStatus::Ok;
    }
  }
  const std::string message = rc == kMissing ? std::string() : Format("%s (%d)", sqlite3_errmsg(db), rc);
  if (!sqlite3_get_autocommit(db)) Exec(db, "ROLLBACK");
  if (rc == kMissing) return RegStatus::NotFound;
  return Fail(rc, message);
}

int StepDone(Statement& s) {
  const int rc = s.Step();
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Inserts the key and each missing parent; the spelling of a component is the one first
// written.
int InsertKeyChain(sqlite3* db, const Scope& scope, const KeyPath& key) {
  Statement ins(db,
                "INSERT INTO reg_keys(hive, uid, view, path_lower, parent_lower, name, path)"
                " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7) ON CONFLICT DO NOTHING");
  if (ins.Prepared() != SQLITE_OK) return ins.Prepared();
  for (size_t n = 1; n <= key.parts.size(); ++n) {
    ins.Reset();
    ins.BindScope(scope);
    ins.Bind(4, key.Lower(n));
    ins.Bind(5, key.Lower(n - 1));
    ins.Bind(6, WideToUtf8(key.parts[n - 1]));
    ins.Bind(7, WideToUtf8(key.Written(n)));
    const int rc = StepDone(ins);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

int KeyRowExists(sqlite3* db, const Scope& scope, const KeyPath& key, bool& exists) {
  if (key.parts.empty()) {
    exists = true;
    return SQLITE_OK;
  }
  Statement q(db, "SELECT 1 FROM reg_keys WHERE hive=?1 AND uid=?2 AND view=?3 AND path_lower=?4");
  if (q.Prepared() != SQLITE_OK) return q.Prepared();
  q.BindScope(scope);
  q.Bind(4, key.Lower());
  const int rc = q.Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return rc;
  exists = rc == SQLITE_ROW;
  return SQLITE_OK;
}

// Fills a value from a row of (name, type, text, dword); false for a type this store
// does not know.
bool ReadValueRow(Statement& q, RegValue& out) {
  out.name = q.WideText(0);
  const int64_t type = q.Int(1);
  if (type == static_cast<int64_t>(RegType::String)) {
    out.type = RegType::String;
    out.text = q.WideText(2);
    out.dword = 0;
    return true;
  }
  if (type == static_cast<int64_t>(RegType::Dword)) {
    out.type = RegType::Dword;
    out.text.clear();
    out.dword = static_cast<uint32_t>(q.Int(3));
    return true;
  }
  return false;
}

}  // namespace

std::string Registry::StorePath() { return MachinePath("/var/lib/qev/registry.db"); }

RegStatus Registry::MakeKey(Hive hive, RegView view, const std::wstring& key) {
  KeyPath path;
  if (!SplitKey(key, path)) return RegStatus::BadName;
  const Scope scope = ScopeOf(hive, view);
  return Transact(true, [&](sqlite3* db) { return InsertKeyChain(db, scope, path); });
}

RegStatus Registry::RemoveKey(Hive hive, RegView view, const std::wstring& key) {
  KeyPath path;
  if (!SplitKey(key, path) || path.parts.empty()) return RegStatus::BadName;
  const Scope scope = ScopeOf(hive, view);
  return Transact(true, [&](sqlite3* db) {
    bool exists = false;
    int rc = KeyRowExists(db, scope, path, exists);
    if (rc != SQLITE_OK) return rc;
    if (!exists) return kMissing;
    // The key itself and everything below it: paths from "key\" up to, not including,
    // "key]" (']' follows '\' in byte order).
    const std::string self = path.Lower();
    const std::string from = self + "\\";
    const std::string to = self + "]";
    for (const char* sql : {"DELETE FROM reg_keys WHERE hive=?1 AND uid=?2 AND view=?3"
                            " AND (path_lower=?4 OR (path_lower>=?5 AND path_lower<?6))",
                            "DELETE FROM reg_values WHERE hive=?1 AND uid=?2 AND view=?3"
                            " AND (path_lower=?4 OR (path_lower>=?5 AND path_lower<?6))"}) {
      Statement del(db, sql);
      if (del.Prepared() != SQLITE_OK) return del.Prepared();
      del.BindScope(scope);
      del.Bind(4, self);
      del.Bind(5, from);
      del.Bind(6, to);
      rc = StepDone(del);
      if (rc != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
  });
}

RegStatus Registry::QueryValue(Hive hive, RegView view, const std::wstring& key, const std::wstring& name,
                               RegValue& out) {
  KeyPath path;
  if (!SplitKey(key, path) || !ValidValueName(name)) return RegStatus::BadName;
  const Scope scope = ScopeOf(hive, view);
  return Transact(false, [&](sqlite3* db) {
    Statement q(db,
                "SELECT name, type, text, dword FROM reg_values"
                " WHERE hive=?1 AND uid=?2 AND view=?3 AND path_lower=?4 AND name_lower=?5");
    if (q.Prepared() != SQLITE_OK) return q.Prepared();
    q.BindScope(scope);
    q.Bind(4, path.Lower());
    q.Bind(5, LowerName(name));
    const int rc = q.Step();
    if (rc == SQLITE_DONE) return kMissing;
    if (rc != SQLITE_ROW) return rc;
    return ReadValueRow(q, out) ? SQLITE_OK : kMissing;
  });
}

RegStatus Registry::SetValue(Hive hive, RegView view, const std::wstring& key, const RegValue& value) {
  KeyPath path;
  if (!SplitKey(key, path) || !ValidValueName(value.name)) return RegStatus::BadName;
  const Scope scope = ScopeOf(hive, view);
  return Transact(true, [&](sqlite3* db) {
    int rc = InsertKeyChain(db, scope, path);
    if (rc != SQLITE_OK) return rc;
    Statement up(db,
                 "INSERT INTO reg_values(hive, uid, view, path_lower, name_lower, name, type, text, dword)"
                 " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"
                 " ON CONFLICT(hive, uid, view, path_lower, name_lower)"
                 " DO UPDATE SET type=excluded.type, text=excluded.text, dword=excluded.dword");
    if (up.Prepared() != SQLITE_OK) return up.Prepared();
    up.BindScope(scope);
    up.Bind(4, path.Lower());
    up.Bind(5, LowerName(value.name));
    up.Bind(6, WideToUtf8(value.name));
    if (value.type == RegType::Dword) {
      up.Bind(7, static_cast<int64_t>(RegType::Dword));
      up.BindNull(8);
      up.Bind(9, static_cast<int64_t>(value.dword));
    } else {
      up.Bind(7, static_cast<int64_t>(RegType::String));
      up.Bind(8, WideToUtf8(value.text));
      up.BindNull(9);
    }
    return StepDone(up);
  });
}

RegStatus Registry::RemoveValue(Hive hive, RegView view, const std::wstring& key, const std::wstring& name) {
  KeyPath path;
  if (!SplitKey(key, path) || !ValidValueName(name)) return RegStatus::BadName;
  const Scope scope = ScopeOf(hive, view);
  return Transact(true, [&](sqlite3* db) {
    Statement del(db,
                  "DELETE FROM reg_values WHERE hive=?1 AND uid=?2 AND view=?3 AND path_lower=?4 AND name_lower=?5");
    if (del.Prepared() != SQLITE_OK) return del.Prepared();
    del.BindScope(scope);
    del.Bind(4, path.Lower());
    del.Bind(5, LowerName(name));
    const int rc = StepDone(del);
    if (rc != SQLITE_OK) return rc;
    return sqlite3_changes(db) > 0 ? SQLITE_OK : kMissing;
  });
}

RegStatus Registry::EnumerateKey(Hive hive, RegView view, const std::wstring& key,
                                 std::vector<std::wstring>& subKeys, std::vector<RegValue>& values) {
  subKeys.clear();
  values.clear();
  KeyPath path;
  if (!SplitKey(key, path)) return RegStatus::BadName;
  const Scope scope = ScopeOf(hive, view);
  std::vector<std::wstring> keysFound;
  std::vector<RegValue> valuesFound;
  const RegStatus status = Transact(false, [&](sqlite3* db) {
    bool exists = false;
    int rc = KeyRowExists(db, scope, path, exists);
    if (rc != SQLITE_OK) return rc;
    if (!exists) return kMissing;
    const std::string self = path.Lower();
    Statement children(db,
                       "SELECT name FROM reg_keys WHERE hive=?1 AND uid=?2 AND view=?3 AND parent_lower=?4"
                       " ORDER BY path_lower");
    if (children.Prepared() != SQLITE_OK) return children.Prepared();
    children.BindScope(scope);
    children.Bind(4, self);
    while ((rc = children.Step()) == SQLITE_ROW) keysFound.push_back(children.WideText(0));
    if (rc != SQLITE_DONE) return rc;
    Statement vals(db,
                   "SELECT name, type, text, dword FROM reg_values WHERE hive=?1 AND uid=?2 AND view=?3"
                   " AND path_lower=?4 ORDER BY name_lower");
    if (vals.Prepared() != SQLITE_OK) return vals.Prepared();
    vals.BindScope(scope);
    vals.Bind(4, self);
    while ((rc = vals.Step()) == SQLITE_ROW) {
      RegValue v;
      if (ReadValueRow(vals, v)) valuesFound.push_back(std::move(v));
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
  });
  if (status == RegStatus::Ok) {
    subKeys = std::move(keysFound);
    values = std::move(valuesFound);
  }
  return status;
}

void Registry::CloseThreadConnection() { t_conn.Close(); }

bool Registry::CreateKey(Hive hive, RegView view, const std::wstring& key) {
  return MakeKey(hive, view, key) == RegStatus::Ok;
}

bool Registry::KeyExists(Hive hive, RegView view, const std::wstring& key) {
  KeyPath path;
  if (!SplitKey(key, path)) return false;
  if (path.parts.empty()) return true;
  const Scope scope = ScopeOf(hive, view);
  return Transact(false, [&](sqlite3* db) {
           bool exists = false;
           const int rc = KeyRowExists(db, scope, path, exists);
           if (rc != SQLITE_OK) return rc;
           return exists ? SQLITE_OK : kMissing;
         }) == RegStatus::Ok;
}

bool Registry::DeleteKey(Hive hive, RegView view, const std::wstring& key) {
  return RemoveKey(hive, view, key) == RegStatus::Ok;
}

std::optional<std::wstring> Registry::ReadString(Hive hive, RegView view, const std::wstring& key,
                                                 const std::wstring& name) {
  RegValue v;
  if (QueryValue(hive, view, key, name, v) != RegStatus::Ok || v.type != RegType::String) return std::nullopt;
  return v.text;
}

std::optional<uint32_t> Registry::ReadDword(Hive hive, RegView view, const std::wstring& key,
                                            const std::wstring& name) {
  RegValue v;
  if (QueryValue(hive, view, key, name, v) != RegStatus::Ok || v.type != RegType::Dword) return std::nullopt;
  return v.dword;
}

bool Registry::WriteString(Hive hive, RegView view, const std::wstring& key, const std::wstring& name,
                           const std::wstring& text) {
  RegValue v;
  v.name = name;
  v.type = RegType::String;
  v.text = text;
  return SetValue(hive, view, key, v) == RegStatus::Ok;
}

bool Registry::WriteDword(Hive hive, RegView view, const std::wstring& key, const std::wstring& name,
                          uint32_t value) {
  RegValue v;
  v.name = name;
  v.type = RegType::Dword;
  v.dword = value;
  return SetValue(hive, view, key, v) == RegStatus::Ok;
}

bool Registry::DeleteValue(Hive hive, RegView view, const std::wstring& key, const std::wstring& name) {
  return RemoveValue(hive, view, key, name) == RegStatus::Ok;
}

std::vector<std::wstring> Registry::ListSubKeys(Hive hive, RegView view, const std::wstring& key) {
  std::vector<std::wstring> keys;
  std::vector<RegValue> values;
  EnumerateKey(hive, view, key, keys, values);
  return keys;
}

std::vector<RegValue> Registry::ListValues(Hive hive, RegView view, const std::wstring& key) {
  std::vector<std::wstring> keys;
  std::vector<RegValue> values;
  EnumerateKey(hive, view, key, keys, values);
  return values;
}

bool ParseHive(const std::string& text, Hive& hive) {
  const std::string t = ToLowerAscii(text);
  if (t == "hklm" || t == "hkey_local_machine") {
    hive = Hive::LocalMachine;
  } else if (t == "hkcu" || t == "hkey_current_user") {
    hive = Hive::CurrentUser;
  } else if (t == "hkcr" || t == "hkey_classes_root") {
    hive = Hive::ClassesRoot;
  } else {
    return false;
  }
  return true;
}

}  // namespace plat
