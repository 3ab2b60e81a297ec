#include "core/store/pg_db.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>

namespace norvane::store {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string ServerReason(pg_conn* conn) {
  std::string reason = conn ? PQerrorMessage(conn) : "out of memory";
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
  return reason;
}

}  // namespace

PgResult::PgResult(pg_result* result) : result_(result) {}
PgResult::~PgResult() { PQclear(result_); }
PgResult::PgResult(PgResult&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }

int PgResult::Rows() const { return PQntuples(result_); }
bool PgResult::IsNull(int row, int column) const { return PQgetisnull(result_, row, column); }

int64_t PgResult::Int(int row, int column) const {
  const char* text = PQgetvalue(result_, row, column);
  int64_t value = 0;
  std::from_chars(text, text + PQgetlength(result_, row, column), value);
  return value;
}

double PgResult::Real(int row, int column) const {
  const char* text = PQgetvalue(result_, row, column);
  double value = 0;
  std::from_chars(text, text + PQgetlength(result_, row, column), value);
  return value;
}

std::string PgResult::Text(int row, int column) const {
  return std::string(PQgetvalue(result_, row, column), static_cast<size_t>(PQgetlength(result_, row, column)));
}

std::vector<uint8_t> PgResult::Bytes(int row, int column) const {
  // bytea comes in its hex text form: \x followed by two digits a byte.
  const std::string_view text(PQgetvalue(result_, row, column), static_cast<size_t>(PQgetlength(result_, row, column)));
  std::vector<uint8_t> bytes;
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x') return bytes;
  bytes.reserve((text.size() - 2) / 2);
  for (size_t i = 2; i + 1 < text.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(HexValue(text[i]) * 16 + HexValue(text[i + 1])));
  return bytes;
}

PgConnection::PgConnection(const std::string& url) : location_(WithoutPassword(url)) {
  // A systemd credential named pgpass serves as the password file when none is named.
  std::string conninfo = url;
  const auto add = [&](const std::string& parameter) {
    conninfo += std::string(conninfo.find('?') == std::string::npos ? "?" : "&") + parameter;
  };
  const char* credentials = std::getenv("CREDENTIALS_DIRECTORY");
  if (credentials && !std::getenv("PGPASSFILE") && !std::getenv("PGPASSWORD")) {
    const std::filesystem::path file = std::filesystem::path(credentials) / "pgpass";
    std::error_code ec;
    if (std::filesystem::is_regular_file(file, ec)) add("passfile=" + file.string());
  }
  // A server gone from the network, rather than refusing, would otherwise hold a writer for the
  // system's TCP timeouts (minutes) while its seconds wait; the URL or PGCONNECT_TIMEOUT may say
  // otherwise.
  if (url.find("connect_timeout=") == std::string::npos && !std::getenv("PGCONNECT_TIMEOUT")) add("connect_timeout=10");
  if (url.find("tcp_user_timeout=") == std::string::npos) add("tcp_user_timeout=30000");
  conn_ = PQconnectdb(conninfo.c_str());
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
    const std::string reason = ServerReason(conn_);
    PQfinish(conn_);
    throw StoreError("cannot connect to the store " + location_ + ": " + reason);
  }
  PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
}

PgConnection::~PgConnection() { PQfinish(conn_); }

PgResult PgConnection::Exec(std::string_view sql, std::span<const PgParam> params) {
  if (PQstatus(conn_) != CONNECTION_OK) {
    PQreset(conn_);
    if (PQstatus(conn_) != CONNECTION_OK)
      throw StoreError("cannot connect to the store " + location_ + ": " + ServerReason(conn_));
  }
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const PgParam& p : params) values.push_back(p ? p->c_str() : nullptr);
  const std::string text(sql);
  // Without parameters a text may hold several statements, as a migration does.
  pg_result* raw = params.empty() ? PQexec(conn_, text.c_str())
                                  : PQexecParams(conn_, text.c_str(), static_cast<int>(values.size()), nullptr,
                                                 values.data(), nullptr, nullptr, 0);
  const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    // Data exceptions (22), integrity violations (23) and the server's program limits (54, an
    // index row too long) come from the data; the rest (a lost connection, a full disk) passes.
    const char* state = raw ? PQresultErrorField(raw, PG_DIAG_SQLSTATE) : nullptr;
    const std::string_view code = state ? state : "";
    const bool refused = code.starts_with("22") || code.starts_with("23") || code.starts_with("54");
    PQclear(raw);
    const std::string what = "the store " + location_ + " failed: " + ServerReason(conn_);
    if (refused) throw StoreRefusal(what);
    throw StoreError(what);
  }
  return PgResult(raw);
}

PgTransaction::PgTransaction(PgConnection& db) : db_(db) { db_.Exec("BEGIN"); }

PgTransaction::~PgTransaction() {
  if (!open_) return;
  try {
    db_.Exec("ROLLBACK");
  } catch (const StoreError&) {
    // A connection that is gone has ended the transaction with it.
  }
}

void PgTransaction::Commit() {
  db_.Exec("COMMIT");
  open_ = false;
}

std::string WithoutPassword(std::string_view url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  const size_t host_end = url.find_first_of("/?", scheme + 3);
  const std::string_view authority = url.substr(scheme + 3, host_end == std::string_view::npos ? url.npos : host_end - scheme - 3);
  const size_t at = authority.rfind('@');
  const size_t colon = authority.find(':');
  std::string out(url);
  if (at != std::string_view::npos && colon != std::string_view::npos && colon < at)
    out.erase(scheme + 3 + colon, at - colon);
  // A password given as a query parameter is cut as well.
  for (size_t p = out.find("password="); p != std::string::npos; p = out.find("password=", p + 1)) {
    const size_t end = out.find('&', p);
    out.replace(p + 9, end == std::string::npos ? std::string::npos : end - p - 9, "***");
  }
  return out;
}

std::string IntArray(std::span<const int64_t> values) {
  std::string text = "{";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) text += ',';
    text += std::to_string(values[i]);
  }
  return text + "}";
}

namespace {
constexpr char kDigits[] = "0123456789abcdef";
}

std::string ByteaText(std::span<const uint8_t> bytes) {
  std::string text = "\\x";
  for (const uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

std::string ByteaArray(const std::vector<std::vector<uint8_t>>& values) {
  std::string text = "{";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) text += ',';
    text += "\"\\\\x";
    for (const uint8_t b : values[i]) {
      text += kDigits[b >> 4];
      text += kDigits[b & 15];
    }
    text += '"';
  }
  return text + "}";
}

}  // namespace norvane::store
