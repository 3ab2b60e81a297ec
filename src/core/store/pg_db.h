// A thin RAII layer over libpq: one connection to a PostgreSQL server, statements with text
// parameters, results and transactions.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/store/store_types.h"

struct pg_conn;
struct pg_result;

namespace norvane::store {

class PgResult {
 public:
  explicit PgResult(pg_result* result);
  ~PgResult();
  PgResult(PgResult&& other) noexcept;
  PgResult& operator=(PgResult&&) = delete;

  int Rows() const;
  bool IsNull(int row, int column) const;
  int64_t Int(int row, int column) const;  // 0 for NULL
  double Real(int row, int column) const;  // 0 for NULL
  std::string Text(int row, int column) const;
  // A bytea column as its bytes.
  std::vector<uint8_t> Bytes(int row, int column) const;

 private:
  pg_result* result_;
};

// A parameter: text as PostgreSQL reads its type's text form, or NULL.
using PgParam = std::optional<std::string>;

class PgConnection {
 public:
  // Connects to `url` (a postgresql:// URL, libpq reading its password from the URL, PGPASSWORD
  // or the password file). Throws StoreError naming the server, never the password.
  explicit PgConnection(const std::string& url);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Runs one statement. A connection the server dropped (a restart) is opened again first; a
  // failure throws StoreError with the server's reason.
  PgResult Exec(std::string_view sql, std::span<const PgParam> params = {});
  PgResult Exec(std::string_view sql, std::initializer_list<PgParam> params) {
    return Exec(sql, std::span<const PgParam>(params.begin(), params.size()));
  }
  const std::string& location() const { return location_; }

 private:
  pg_conn* conn_ = nullptr;
  std::string location_;
};

// Commits on Commit(), rolls back when left without it.
class PgTransaction {
 public:
  explicit PgTransaction(PgConnection& db);
  ~PgTransaction();
  PgTransaction(const PgTransaction&) = delete;
  PgTransaction& operator=(const PgTransaction&) = delete;
  void Commit();

 private:
  PgConnection& db_;
  bool open_ = true;
};

// The URL without its password, for messages.
std::string WithoutPassword(std::string_view url);

// The text form of a bytea value: '\x0102'.
std::string ByteaText(std::span<const uint8_t> bytes);
// Text forms of arrays for unnest(): '{1,2,3}' and bytea '{"\\x0102",…}'.
std::string IntArray(std::span<const int64_t> values);
std::string ByteaArray(const std::vector<std::vector<uint8_t>>& values);

}  // namespace norvane::store
