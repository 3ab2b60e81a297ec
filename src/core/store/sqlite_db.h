// A thin RAII layer over SQLite's C API: one connection, prepared statements, transactions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/store/store_types.h"

struct sqlite3;
struct sqlite3_stmt;

namespace norvane::store {

class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, double value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, std::span<const uint8_t> bytes);
  Statement& BindNull(int index);
  // True while a row is available; false when done. Throws on failure.
  bool Step();
  // Runs a statement that returns no rows, then resets it for the next use.
  void Run();
  void Reset();

  int64_t Int(int column) const;
  double Real(int column) const;
  bool IsNull(int column) const;
  std::string Text(int column) const;
  std::span<const uint8_t> Blob(int column) const;

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

class Database {
 public:
  enum class Mode { kReadWrite, kReadOnly };
  Database(const std::filesystem::path& path, Mode mode);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  sqlite3* handle() const { return db_; }
  const std::filesystem::path& path() const { return path_; }
  void Exec(std::string_view sql);
  // Exec for statements that fail at once on a lock instead of waiting for it (a change of
  // journal mode while another process makes the same database): tried again until `ms` pass.
  void ExecWaitingForLocks(std::string_view sql, int ms);
  int64_t ScalarInt(std::string_view sql);
  // Rows changed by the last statement.
  int64_t Changes() const;

 private:
  sqlite3* db_ = nullptr;
  std::filesystem::path path_;
};

// Commits on Commit(), rolls back when left without it.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  void Commit();

 private:
  Database& db_;
  bool open_ = true;
};

// A read transaction, so that several statements see one state of the database; nothing when the
// connection is in a transaction already. It begins at the first read, not here.
class ReadTransaction {
 public:
  explicit ReadTransaction(Database& db);
  ~ReadTransaction();
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;

 private:
  Database& db_;
  bool open_ = false;
};

}  // namespace norvane::store
