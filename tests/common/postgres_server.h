// A real PostgreSQL server for tests: its own cluster in a temporary folder, reached on a Unix
// socket there, run as the postgres user when the tests run as root (initdb refuses root).
#pragma once

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/store/pg_db.h"

namespace norvane::testing {

class PostgresServer {
 public:
  PostgresServer() {
    for (const auto& version : Versions()) {
      if (std::filesystem::exists(version / "initdb") && std::filesystem::exists(version / "pg_ctl")) {
        bin_ = version;
        break;
      }
    }
    if (bin_.empty()) return;
    char pattern[] = "/tmp/norvane-pg-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    chmod(dir_.c_str(), 0755);
    if (geteuid() == 0) {
      const passwd* user = getpwnam("postgres");
      if (!user || chown(dir_.c_str(), user->pw_uid, user->pw_gid) != 0) return;
      as_ = "runuser -u postgres -- ";
    }
    if (Run(bin("initdb") + " -D " + Data() + " -A trust -U norvane --no-sync >" + Log("initdb") + " 2>&1") != 0) return;
    started_ = Start();
  }
  ~PostgresServer() {
    if (started_) Run(bin("pg_ctl") + " -D " + Data() + " -m immediate -w stop >/dev/null 2>&1");
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // Tests of the PostgreSQL store are skipped where the server is not installed, and fail where
  // it is but does not start.
  bool installed() const { return !bin_.empty(); }
  bool running() const { return started_; }
  std::string Folder() const { return dir_.string(); }

  // A fresh database of its own on this server, as a store URL.
  std::string NewDatabase() {
    const std::string name = "store" + std::to_string(++databases_);
    store::PgConnection(Url("postgres")).Exec("CREATE DATABASE " + name);
    return Url(name);
  }
  std::string Url(const std::string& database) const {
    return "postgresql://norvane@/" + database + "?host=" + dir_.string();
  }

  // A crash: the server stops at once, without a checkpoint.
  void Crash() { Run(bin("pg_ctl") + " -D " + Data() + " -m immediate -w stop >/dev/null 2>&1"); }
  bool Start() {
    return Run(bin("pg_ctl") + " -D " + Data() + " -w -l " + Log("server") + " -o \"-k " + dir_.string() +
               " -c listen_addresses='' -c fsync=off -c max_connections=50\" start >/dev/null 2>&1") == 0;
  }

 private:
  static std::vector<std::filesystem::path> Versions() {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec))
      found.push_back(entry.path() / "bin");
    return found;
  }
  std::string bin(const char* name) const { return as_ + (bin_ / name).string(); }
  std::string Data() const { return (dir_ / "data").string(); }
  std::string Log(const char* name) const { return (dir_ / (std::string(name) + ".log")).string(); }
  static int Run(const std::string& command) { return std::system(command.c_str()); }

  std::filesystem::path bin_, dir_;
  std::string as_;
  bool started_ = false;
  int databases_ = 0;
};

}  // namespace norvane::testing
