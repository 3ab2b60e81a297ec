#include "core/store/sqlite_db.h"

#include <sqlite3.h>

namespace norvane::store {
namespace {

// SQLite's words for a damaged file ("database disk image is malformed") name no file: the
// store's path goes with them.
std::string Reason(sqlite3* db, int rc, const std::string& text) {
  const int primary = rc & 0xff;
  if (primary != SQLITE_CORRUPT && primary != SQLITE_NOTADB) return text;
  const char* file = sqlite3_db_filename(db, "main");
  return std::string(file && *file ? file : "the store") + " is damaged (" + text + ")";
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
  const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt_,
                                    nullptr);
  if (rc != SQLITE_OK)
    throw StoreError(Reason(db, rc, "cannot prepare '" + std::string(sql) + "': " + sqlite3_errmsg(db)));
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, double value) {
  sqlite3_bind_double(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindBlob(int index, std::span<const uint8_t> bytes) {
  sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindNull(int index) {
  sqlite3_bind_null(stmt_, index);
  return *this;
}

bool Statement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(stmt_);
  throw StoreError(Reason(db_, rc, sqlite3_errmsg(db_)));
}

void Statement::Run() {
  while (Step()) {
  }
  Reset();
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
double Statement::Real(int column) const { return sqlite3_column_double(stmt_, column); }
bool Statement::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(stmt_, column);
  return text ? std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, column)) : std::string();
}

std::span<const uint8_t> Statement::Blob(int column) const {
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
  return {data, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
}

Database::Database(const std::filesystem::path& path, Mode mode) : path_(path) {
  const int flags = mode == Mode::kReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError("cannot open the store " + path.string() + ": " + reason);
  }
}

Database::~Database() { sqlite3_close_v2(db_); }

void Database::Exec(std::string_view sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, std::string(sql).c_str(), nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    const std::string reason = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    throw StoreError(Reason(db_, rc, reason));
  }
}

void Database::ExecWaitingForLocks(std::string_view sql, int ms) {
  constexpr int kStepMs = 10;
  for (int waited = 0;; waited += kStepMs) {
    try {
      Exec(sql);
      return;
    } catch (const StoreError&) {
      if ((sqlite3_errcode(db_) & 0xff) != SQLITE_BUSY || waited >= ms) throw;
    }
    sqlite3_sleep(kStepMs);
  }
}

int64_t Database::ScalarInt(std::string_view sql) {
  Statement s(db_, sql);
  return s.Step() ? s.Int(0) : 0;
}

int64_t Database::Changes() const { return sqlite3_changes64(db_); }

Transaction::Transaction(Database& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }

Transaction::~Transaction() {
  if (open_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::Commit() {
  db_.Exec("COMMIT");
  open_ = false;
}

ReadTransaction::ReadTransaction(Database& db) : db_(db) {
  if (sqlite3_get_autocommit(db_.handle())) {
    db_.Exec("BEGIN DEFERRED");
    open_ = true;
  }
}

ReadTransaction::~ReadTransaction() {
  if (open_) sqlite3_exec(db_.handle(), "COMMIT", nullptr, nullptr, nullptr);
}

}  // namespace norvane::store
