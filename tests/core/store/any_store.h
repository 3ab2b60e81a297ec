// Runs a store test on each database the store has: a SQLite file and a PostgreSQL server.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>

#include "core/store/counter_store.h"
#include "core/store/pg_db.h"
#include "tests/common/postgres_server.h"
#include "tests/common/temp_dir.h"

namespace norvane::store {

enum class Backend { kSqlite, kPostgres };

class AnyStoreTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::kSqlite) {
      location_ = (dir_ / "store.sqlite").string();
      return;
    }
    server_.emplace();
    if (!server_->installed()) GTEST_SKIP() << "PostgreSQL's initdb and pg_ctl are not installed (Debian: postgresql)";
    ASSERT_TRUE(server_->running()) << "the test PostgreSQL server did not start; see " << server_->Folder();
    location_ = server_->NewDatabase();
  }
  // Moves on to an empty store of the same kind.
  void NewStore() {
    if (GetParam() == Backend::kPostgres) location_ = server_->NewDatabase();
    else std::filesystem::remove(location_);
  }
  std::unique_ptr<CounterStore> Open(StoreAccess access = StoreAccess::kReadWrite) {
    return OpenStore(location_, access);
  }
  // SQL on a connection of its own, the way damage from outside would come about.
  void Raw(const std::string& sql) {
    if (GetParam() == Backend::kPostgres) {
      PgConnection(location_).Exec(sql);
      return;
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(location_.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
  }

  testing::TempDir dir_;
  std::optional<testing::PostgresServer> server_;
  std::string location_;
};

inline std::string BackendName(const ::testing::TestParamInfo<Backend>& info) {
  return info.param == Backend::kSqlite ? "SQLite" : "PostgreSQL";
}

}  // namespace norvane::store
