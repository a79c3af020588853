#include "registry_store.h"

#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "root_folder.h"

namespace t32posix {

namespace {

// Fixed ids of the two real roots; everything else hangs below them.
constexpr RegKeyId kLocalMachineId = 1;
constexpr RegKeyId kUsersId = 2;
// The current user's hive lives below HKEY_USERS under this name, and the classes seen
// through HKEY_CLASSES_ROOT below HKEY_LOCAL_MACHINE\Software\Classes.
constexpr char kCurrentUserSid[] = "S-1-5-21-0-0-0-1000";  // already in folded (upper) case

// How long a writer waits for another process's transaction before giving up.
constexpr int kBusyTimeoutMs = 10000;

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " written INTEGER NOT NULL,"
    " UNIQUE(parent, folded));"
    "CREATE TABLE IF NOT EXISTS vals("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " folded TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " sum INTEGER NOT NULL,"
    " UNIQUE(key, folded));"
    "INSERT OR IGNORE INTO keys(id, parent, name, folded, written) VALUES"
    " (1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE', 0),"
    " (2, 0, 'HKEY_USERS', 'HKEY_USERS', 0);";

enum Statement {
  kFindChild,
  kInsertKey,
  kKeyExists,
  kHasChild,
  kTouchKey,
  kQueryValue,
  kUpsertValue,
  kDeleteValue,
  kDeleteValues,
  kDeleteKey,
  kEnumKey,
  kEnumValue,
  kBegin,
  kBeginWrite,
  kCommit,
  kRollback,
  kStatementCount
};

const char* const kStatementText[kStatementCount] = {
    "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2",
    "INSERT INTO keys(parent, name, folded, written) VALUES (?1, ?2, ?3, ?4)",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "UPDATE keys SET written = ?2 WHERE id = ?1",
    "SELECT type, data, sum FROM vals WHERE key = ?1 AND folded = ?2",
    "INSERT INTO vals(key, name, folded, type, data, sum) VALUES (?1, ?2, ?3, ?4, ?5, ?6)"
    " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data, sum = excluded.sum",
    "DELETE FROM vals WHERE key = ?1 AND folded = ?2",
    "DELETE FROM vals WHERE key = ?1",
    "DELETE FROM keys WHERE id = ?1",
    "SELECT name, written FROM keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT name, type, data, sum FROM vals WHERE key = ?1 ORDER BY id LIMIT 1 OFFSET ?2",
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
};

// A checksum of a value's type and data. SQLite notices damage to its page structure but
// not to the bytes of a large value, which live in overflow pages without checksums; a
// value whose sum no longer matches reads as missing instead of as wrong data.
int64_t ValueSum(DWORD dwType, const uint8_t* p, size_t cb) {
  const uint64_t kMul = 0x9E3779B97F4A7C15ull;
  uint64_t h = (static_cast<uint64_t>(cb) << 32 | dwType) * kMul;
  auto mix = [&](uint64_t k) {
    k *= 0xFF51AFD7ED558CCDull;
    k ^= k >> 29;
    h = (h ^ k) * kMul;
    h ^= h >> 32;
  };
  size_t i = 0;
  for (; i + 8 <= cb; i += 8) {
    uint64_t k;
    std::memcpy(&k, p + i, 8);
    mix(k);
  }
  if (i < cb) {
    uint64_t k = 0;
    std::memcpy(&k, p + i, cb - i);
    mix(k ^ 0xA5);
  }
  return static_cast<int64_t>(h);
}

// Reads type, data and sum from columns first.. of a row; false when the sum shows damage.
bool ReadValueColumns(sqlite3_stmt* s, int first, RegValueData* pValue) {
  pValue->dwType = static_cast<DWORD>(sqlite3_column_int64(s, first));
  const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(s, first + 1));
  size_t n = static_cast<size_t>(sqlite3_column_bytes(s, first + 1));
  pValue->data.assign(p, p + n);
  return sqlite3_column_int64(s, first + 2) == ValueSum(pValue->dwType, pValue->data.data(), n);
}

int64_t NowFileTime() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return (static_cast<int64_t>(tv.tv_sec) + 11644473600LL) * 10000000LL + static_cast<int64_t>(tv.tv_usec) * 10;
}

// One open database. The process keeps one at a time, keyed on the file's path; it is
// dropped when the root folder changes, when the file is replaced or removed, after a
// fork (the child opens its own), and after the database reported damage.
struct Connection {
  sqlite3* pDb = nullptr;
  std::string path;
  pid_t pid = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  RegKeyId classesId = 0;
  RegKeyId currentUserId = 0;
  sqlite3_stmt* stmts[kStatementCount] = {};

  ~Connection() {
    for (sqlite3_stmt* s : stmts) sqlite3_finalize(s);
    sqlite3_close_v2(pDb);
  }

  sqlite3_stmt* Get(Statement which) {
    sqlite3_stmt*& s = stmts[which];
    if (!s && sqlite3_prepare_v3(pDb, kStatementText[which], -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
      s = nullptr;
    return s;
  }
};

Connection* g_pConnection = nullptr;

// getpid() is a system call on every use; the process id only changes in a fork child.
pid_t g_pid = 0;

pid_t CurrentPid() {
  static bool s_bHooked = [] {
    pthread_atfork(nullptr, nullptr, [] { g_pid = 0; });
    return true;
  }();
  (void)s_bHooked;
  if (!g_pid) g_pid = getpid();
  return g_pid;
}

void DropConnection() {
  if (g_pConnection && g_pConnection->pid != CurrentPid()) {
    // Inherited through fork(): the parent still uses this SQLite state, so it is left
    // alone rather than closed here.
    g_pConnection = nullptr;
    return;
  }
  delete g_pConnection;
  g_pConnection = nullptr;
}

bool IsDamage(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_NOMEM:
    case SQLITE_INTERRUPT:
      return false;
    default:
      return true;
  }
}

// The error a failed SQLite call gives the caller. Damage reads as a missing key for a
// reader and as a corrupt database for a writer; the connection is dropped so that the
// next call looks at the file afresh.
LONG StoreError(int rc, bool bWrite) {
  int primary = rc & 0xff;
  if (IsDamage(rc)) {
    DropConnection();
    return bWrite ? ERROR_BADDB : ERROR_FILE_NOT_FOUND;
  }
  if (primary == SQLITE_NOMEM) return ERROR_NOT_ENOUGH_MEMORY;
  return bWrite ? ERROR_CANTWRITE : ERROR_CANTREAD;
}

// Runs one statement to completion (no rows expected).
int Exec(sqlite3_stmt* s) {
  if (!s) return SQLITE_ERROR;
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

// A lookup of the child key (parent, folded): SQLITE_ROW with *pId, SQLITE_DONE when
// missing, or an error.
int FindChild(Connection* c, RegKeyId parent, const std::string& folded, RegKeyId* pId) {
  sqlite3_stmt* s = c->Get(kFindChild);
  if (!s) return SQLITE_ERROR;
  sqlite3_bind_int64(s, 1, parent);
  sqlite3_bind_text(s, 2, folded.data(), static_cast<int>(folded.size()), SQLITE_STATIC);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) *pId = sqlite3_column_int64(s, 0);
  sqlite3_reset(s);
  return rc;
}

int InsertKey(Connection* c, RegKeyId parent, const RegName& name, RegKeyId* pId) {
  sqlite3_stmt* s = c->Get(kInsertKey);
  if (!s) return SQLITE_ERROR;
  sqlite3_bind_int64(s, 1, parent);
  sqlite3_bind_text(s, 2, name.name.data(), static_cast<int>(name.name.size()), SQLITE_STATIC);
  sqlite3_bind_text(s, 3, name.folded.data(), static_cast<int>(name.folded.size()), SQLITE_STATIC);
  sqlite3_bind_int64(s, 4, NowFileTime());
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  if (rc != SQLITE_DONE) return rc;
  *pId = sqlite3_last_insert_rowid(c->pDb);
  return SQLITE_OK;
}

// SQLITE_ROW when the key exists, SQLITE_DONE when it does not, or an error.
int KeyExists(Connection* c, RegKeyId id) {
  sqlite3_stmt* s = c->Get(kKeyExists);
  if (!s) return SQLITE_ERROR;
  sqlite3_bind_int64(s, 1, id);
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc;
}

int TouchKey(Connection* c, RegKeyId id) {
  sqlite3_stmt* s = c->Get(kTouchKey);
  if (!s) return SQLITE_ERROR;
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_int64(s, 2, NowFileTime());
  return Exec(s);
}

// The child of parent named by name, created when missing; used when setting up the
// well-known keys.
int EnsureChild(Connection* c, RegKeyId parent, const RegName& name, RegKeyId* pId) {
  int rc = FindChild(c, parent, name.folded, pId);
  if (rc == SQLITE_DONE) return InsertKey(c, parent, name, pId);
  return rc == SQLITE_ROW ? SQLITE_OK : rc;
}

// A write transaction; rolled back unless committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(Connection* c) : m_pConnection(c) { m_rc = Exec(c->Get(kBeginWrite)); }
  ~WriteTransaction() {
    if (m_bOpen && g_pConnection == m_pConnection) Exec(m_pConnection->Get(kRollback));
  }
  int Begun() {
    m_bOpen = m_rc == SQLITE_OK;
    return m_rc;
  }
  int Commit() {
    int rc = Exec(m_pConnection->Get(kCommit));
    if (rc == SQLITE_OK) m_bOpen = false;
    return rc;
  }

 private:
  Connection* m_pConnection;
  int m_rc;
  bool m_bOpen = false;
};

int InitSchema(Connection* c) {
  char* pszError = nullptr;
  int rc = sqlite3_exec(c->pDb, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_exec(c->pDb, kSchema, nullptr, nullptr, &pszError);
  sqlite3_free(pszError);
  RegKeyId software = 0;
  if (rc == SQLITE_OK) rc = EnsureChild(c, kLocalMachineId, {"Software", "SOFTWARE"}, &software);
  if (rc == SQLITE_OK) rc = EnsureChild(c, software, {"Classes", "CLASSES"}, &c->classesId);
  if (rc == SQLITE_OK) rc = EnsureChild(c, kUsersId, {kCurrentUserSid, kCurrentUserSid}, &c->currentUserId);
  if (rc == SQLITE_OK) rc = sqlite3_exec(c->pDb, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) sqlite3_exec(c->pDb, "ROLLBACK", nullptr, nullptr, nullptr);
  return rc;
}

// The connection for the database at path, opened when needed. A file that is missing is
// created only for the current root folder; for an older one (a handle that outlived its
// root) the key is gone.
Connection* Use(const std::string& path, bool bWrite, LONG* pError) {
  struct stat st;
  bool bExists = stat(path.c_str(), &st) == 0;
  if (g_pConnection && g_pConnection->pid == CurrentPid() && g_pConnection->path == path && bExists &&
      g_pConnection->dev == st.st_dev && g_pConnection->ino == st.st_ino)
    return g_pConnection;
  DropConnection();

  if (!bExists) {
    if (path != CurrentRegistryFile()) {
      *pError = ERROR_KEY_DELETED;
      return nullptr;
    }
    RootPath("registry/registry.db");  // creates the folder
  }

  auto* c = new Connection;
  c->path = path;
  c->pid = CurrentPid();
  int rc = sqlite3_open_v2(path.c_str(), &c->pDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_busy_timeout(c->pDb, kBusyTimeoutMs);
    sqlite3_extended_result_codes(c->pDb, 1);
    // WAL: readers do not wait for a writer, and a commit is atomic even if the process
    // dies halfway; NORMAL syncing keeps commits cheap (durable against process crashes,
    // which is what the registry promises here).
    rc = sqlite3_exec(c->pDb, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) rc = InitSchema(c);
  if (rc != SQLITE_OK) {
    delete c;
    *pError = IsDamage(rc) ? (bWrite ? ERROR_BADDB : ERROR_FILE_NOT_FOUND) : (bWrite ? ERROR_CANTWRITE : ERROR_CANTREAD);
    return nullptr;
  }
  if (stat(path.c_str(), &st) == 0) {
    c->dev = st.st_dev;
    c->ino = st.st_ino;
  }
  g_pConnection = c;
  return c;
}

}  // namespace

std::string CurrentRegistryFile() {
  // RootFolder() creates the folder on every call; remember its answer for as long as
  // the variables it is derived from stay the same.
  static std::string s_key;
  static std::string s_file;
  std::string key;
  for (const char* name : {"TERNIX32_ROOT", "XDG_STATE_HOME", "HOME"}) {
    const char* value = std::getenv(name);
    key += value ? value : "\x01";
    key += '\0';
  }
  if (s_file.empty() || key != s_key) {
    s_file = RootFolder() + "/registry/registry.db";
    s_key = key;
  }
  return s_file;
}

LONG RegStoreRoot(const std::string& path, RegRoot root, bool bWrite, RegKeyId* pId) {
  LONG error = ERROR_SUCCESS;
  Connection* c = Use(path, bWrite, &error);
  if (!c) return error;
  switch (root) {
    case RegRoot::kLocalMachine: *pId = kLocalMachineId; break;
    case RegRoot::kUsers: *pId = kUsersId; break;
    case RegRoot::kCurrentUser: *pId = c->currentUserId; break;
    case RegRoot::kClassesRoot: *pId = c->classesId; break;
  }
  return ERROR_SUCCESS;
}

LONG RegStoreKeyAlive(const std::string& path, RegKeyId id) {
  LONG error = ERROR_SUCCESS;
  Connection* c = Use(path, false, &error);
  if (!c) return error;
  int rc = KeyExists(c, id);
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return StoreError(rc, false);
}

LONG RegStoreOpen(const std::string& path, RegKeyId from, const std::vector<RegName>& components, bool bCreate,
                  RegKeyId* pId, DWORD* pdwDisposition) {
  LONG error = ERROR_SUCCESS;
  Connection* c = Use(path, bCreate, &error);
  if (!c) return error;

  if (!bCreate) {
    // A read-only walk: one read transaction so the path is seen as of one moment.
    if (int rc = Exec(c->Get(kBegin)); rc != SQLITE_OK) return StoreError(rc, false);
    int rc = KeyExists(c, from);
    RegKeyId id = from;
    for (size_t i = 0; rc == SQLITE_ROW && i < components.size(); ++i) rc = FindChild(c, id, components[i].folded, &id);
    if (g_pConnection == c) Exec(c->Get(kCommit));
    if (rc == SQLITE_ROW) {
      *pId = id;
      if (pdwDisposition) *pdwDisposition = REG_OPENED_EXISTING_KEY;
      return ERROR_SUCCESS;
    }
    if (rc == SQLITE_DONE) {
      // The starting key itself gone means the handle is dead; otherwise a name is missing.
      int alive = KeyExists(c, from);
      if (alive == SQLITE_DONE) return ERROR_KEY_DELETED;
      return ERROR_FILE_NOT_FOUND;
    }
    return StoreError(rc, false);
  }

  WriteTransaction txn(c);
  if (int rc = txn.Begun(); rc != SQLITE_OK) return StoreError(rc, true);
  int rc = KeyExists(c, from);
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc != SQLITE_ROW) return StoreError(rc, true);
  RegKeyId id = from;
  bool bCreated = false;
  for (const RegName& component : components) {
    RegKeyId child = 0;
    rc = FindChild(c, id, component.folded, &child);
    if (rc == SQLITE_DONE) {
      rc = InsertKey(c, id, component, &child);
      if (rc == SQLITE_OK) rc = TouchKey(c, id);
      bCreated = true;
    } else if (rc == SQLITE_ROW) {
      rc = SQLITE_OK;
      bCreated = false;
    }
    if (rc != SQLITE_OK) return StoreError(rc, true);
    id = child;
  }
  if (bCreated) {
    if ((rc = txn.Commit()) != SQLITE_OK) return StoreError(rc, true);
  }
  // Nothing was created: the transaction is rolled back, which costs no write.
  *pId = id;
  if (pdwDisposition) *pdwDisposition = bCreated ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegStoreQueryValue(const std::string& path, RegKeyId id, const std::string& folded, RegValueData* pValue) {
  LONG error = ERROR_SUCCESS;
  Connection* c = Use(path, false, &error);
  if (!c) return error;
  sqlite3_stmt* s = c->Get(kQueryValue);
  if (!s) return StoreError(sqlite3_errcode(c->pDb), false);
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_text(s, 2, folded.data(), static_cast<int>(folded.size()), SQLITE_STATIC);
  int rc = sqlite3_step(s);
  bool bIntact = rc == SQLITE_ROW && ReadValueColumns(s, 0, pValue);
  sqlite3_reset(s);
  if (rc == SQLITE_ROW) return bIntact ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  if (rc != SQLITE_DONE) return StoreError(rc, false);
  // Missing value: tell a deleted key apart from a live key without that value.
  rc = KeyExists(c, id);
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc == SQLITE_ROW) return ERROR_FILE_NOT_FOUND;
  return StoreError(rc, false);
}

LONG RegStoreSetValue(const std::string& path, RegKeyId id, const RegName& name, DWORD dwType, const uint8_t* pData,
                      size_t cbData) {
  LONG error = ERROR_SUCCESS;
  Connection* c = Use(path, true, &error);
  if (!c) return error;
  WriteTransaction txn(c);
  if (int rc = txn.Begun(); rc != SQLITE_OK) return StoreError(rc, true);
  int rc = KeyExists(c, id);
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc != SQLITE_ROW) return StoreError(rc, true);
  sqlite3_stmt* s = c->Get(kUpsertValue);
  if (!s) return StoreError(sqlite3_errcode(c->pDb), true);
  static const uint8_t kEmpty = 0;
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_text(s, 2, name.name.data(), static_cast<int>(name.name.size()), SQLITE_STATIC);
  sqlite3_bind_text(s, 3, name.folded.data(), static_cast<int>(name.folded.size()), SQLITE_STATIC);
  sqlite3_bind_int64(s, 4, dwType);
  sqlite3_bind_blob64(s, 5, cbData ? pData : &kEmpty, cbData, SQLITE_STATIC);
  sqlite3_bind_int64(s, 6, ValueSum(dwType, pData, cbData));
  rc = Exec(s);
  if (rc == SQLITE_OK) rc = TouchKey(c, id);
  if (rc == SQLITE_OK) rc = txn.Commit();
  return rc == SQLITE_OK ? ERROR_SUCCESS : StoreError(rc, true);
}

LONG RegStoreDeleteValue(const std::string& path, RegKeyId id, const std::string& folded) {
  LONG error = ERROR_SUCCESS;
  Connection* c = Use(path, true, &error);
  if (!c) return error;
  WriteTransaction txn(c);
  if (int rc = txn.Begun(); rc != SQLITE_OK) return StoreError(rc, true);
  int rc = KeyExists(c, id);
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc != SQLITE_ROW) return StoreError(rc, true);
  sqlite3_stmt* s = c->Get(kDeleteValue);
  if (!s) return StoreError(sqlite3_errcode(c->pDb), true);
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_text(s, 2, folded.data(), static_cast<int>(folded.size()), SQLITE_STATIC);
  rc = Exec(s);
  if (rc != SQLITE_OK) return StoreError(rc, true);
  if (sqlite3_changes(c->pDb) == 0) return ERROR_FILE_NOT_FOUND;
  rc = TouchKey(c, id);
  if (rc == SQLITE_OK) rc = txn.Commit();
  return rc == SQLITE_OK ? ERROR_SUCCESS : StoreError(rc, true);
}

LONG RegStoreDeleteKey(const std::string& path, RegKeyId id) {
  LONG error = ERROR_SUCCESS;
  Connection* c = Use(path, true, &error);
  if (!c) return error;
  if (id == kLocalMachineId || id == kUsersId || id == c->classesId || id == c->currentUserId)
    return ERROR_ACCESS_DENIED;
  WriteTransaction txn(c);
  if (int rc = txn.Begun(); rc != SQLITE_OK) return StoreError(rc, true);
  int rc = KeyExists(c, id);
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc != SQLITE_ROW) return StoreError(rc, true);
  sqlite3_stmt* s = c->Get(kHasChild);
  if (!s) return StoreError(sqlite3_errcode(c->pDb), true);
  sqlite3_bind_int64(s, 1, id);
  rc = sqlite3_step(s);
  sqlite3_reset(s);
  if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;  // a key with subkeys is not deleted
  if (rc != SQLITE_DONE) return StoreError(rc, true);
  for (Statement which : {kDeleteValues, kDeleteKey}) {
    s = c->Get(which);
    if (!s) return StoreError(sqlite3_errcode(c->pDb), true);
    sqlite3_bind_int64(s, 1, id);
    if ((rc = Exec(s)) != SQLITE_OK) return StoreError(rc, true);
  }
  rc = txn.Commit();
  return rc == SQLITE_OK ? ERROR_SUCCESS : StoreError(rc, true);
}

LONG RegStoreEnumKey(const std::string& path, RegKeyId id, DWORD dwIndex, RegSubkey* pSubkey) {
  LONG error = ERROR_SUCCESS;
  Connection* c = Use(path, false, &error);
  if (!c) return error;
  sqlite3_stmt* s = c->Get(kEnumKey);
  if (!s) return StoreError(sqlite3_errcode(c->pDb), false);
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_int64(s, 2, dwIndex);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    pSubkey->name.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                         static_cast<size_t>(sqlite3_column_bytes(s, 0)));
    pSubkey->llWritten = sqlite3_column_int64(s, 1);
  }
  sqlite3_reset(s);
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc != SQLITE_DONE) return StoreError(rc, false);
  rc = KeyExists(c, id);
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc == SQLITE_ROW) return ERROR_NO_MORE_ITEMS;
  return StoreError(rc, false);
}

LONG RegStoreEnumValue(const std::string& path, RegKeyId id, DWORD dwIndex, RegNamedValue* pValue) {
  LONG error = ERROR_SUCCESS;
  Connection* c = Use(path, false, &error);
  if (!c) return error;
  sqlite3_stmt* s = c->Get(kEnumValue);
  if (!s) return StoreError(sqlite3_errcode(c->pDb), false);
  sqlite3_bind_int64(s, 1, id);
  sqlite3_bind_int64(s, 2, dwIndex);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    pValue->name.assign(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                        static_cast<size_t>(sqlite3_column_bytes(s, 0)));
    if (!ReadValueColumns(s, 1, &pValue->value)) {
      // Listed by name, but its damaged contents are not handed out.
      pValue->value.dwType = REG_NONE;
      pValue->value.data.clear();
    }
  }
  sqlite3_reset(s);
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc != SQLITE_DONE) return StoreError(rc, false);
  rc = KeyExists(c, id);
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc == SQLITE_ROW) return ERROR_NO_MORE_ITEMS;
  return StoreError(rc, false);
}

}  // namespace t32posix
