// Load for a centre: N stations publishing a state message a second each through a Mosquitto
// broker to norvane-cli collect, which writes them into a PostgreSQL store. Measures for each
// published second how long until every station's second is committed (publish to commit), the
// CPU of the collector, the broker and the database, and the store's size.
//
//   collect_bench HOST PORT PREFIX STORE_URL STATIONS SECONDS COLLECT_PID BROKER_PID POSTMASTER_PID
//
// bench/collect_bench.sh sets up the broker, the database and the collector and runs this.
#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/store/pg_db.h"
#include "core/store/store_reading.h"

namespace norvane {
namespace {

using store::FloorDiv;

using Clock = std::chrono::steady_clock;

// CPU seconds of a process and all its children (a database's backends), from /proc.
double CpuSeconds(pid_t root) {
  std::map<pid_t, std::pair<pid_t, double>> all;  // pid → (parent, cpu)
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::ifstream in(entry.path() / "stat");
    std::string line;
    if (!std::getline(in, line)) continue;
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string field;
    pid_t parent = 0;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 4) parent = std::stoi(field);
      if (i == 14) utime = std::stod(field);
      if (i == 15) stime = std::stod(field);
    }
    all[std::stoi(name)] = {parent, (utime + stime) / tick};
  }
  double total = 0;
  for (const auto& [pid, info] : all)
    if (pid == root || info.first == root) total += info.second;
  return total;
}

int Main(int argc, char** argv) {
  if (argc != 10) {
    std::fprintf(stderr, "usage: collect_bench HOST PORT PREFIX STORE_URL STATIONS SECONDS COLLECT_PID BROKER_PID POSTMASTER_PID\n");
    return 2;
  }
  const std::string host = argv[1], prefix = argv[3], url = argv[4];
  const int port = std::stoi(argv[2]), stations = std::stoi(argv[5]), seconds = std::stoi(argv[6]);
  const pid_t pids[] = {std::stoi(argv[7]), std::stoi(argv[8]), std::stoi(argv[9])};
  const char* names[] = {"collect", "mosquitto", "postgres"};

  mosquitto_lib_init();
  mosquitto* client = mosquitto_new("norvane-bench-stations", true, nullptr);
  mosquitto_max_inflight_messages_set(client, 0);  // as many stations in flight as there are
  if (mosquitto_connect(client, host.c_str(), port, 30) != MOSQ_ERR_SUCCESS) {
    std::fprintf(stderr, "collect_bench: cannot reach the broker\n");
    return 1;
  }
  mosquitto_loop_start(client);
  store::PgConnection db(url);

  const auto publish = [&](int64_t utc) {
    for (int s = 0; s < stations; ++s) {
      const nlohmann::json body{{"counts", (s + utc) % 17}, {"model", "ZQT-400"}, {"version", "ZQT-400 V4.2"},
                                {"utc", utc}, {"serial", "be" + std::to_string(s)}, {"device_path", ""}};
      const std::string topic = prefix + "/s" + std::to_string(s) + "/zqt_400_1/state", payload = body.dump();
      mosquitto_publish(client, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, false);
    }
  };
  const auto done = [&](int64_t utc) {
    return db.Exec("SELECT count(*) FROM seconds WHERE minute = $1 AND (gaps >> $2::integer) & 1 = 0",
                   {std::to_string(FloorDiv(utc, 60)), std::to_string(utc - FloorDiv(utc, 60) * 60)})
        .Int(0, 0);
  };
  // The stations' first second: the collector registers each counter once, a one-off cost.
  const int64_t warm_up = std::chrono::duration_cast<std::chrono::seconds>(
                              std::chrono::system_clock::now().time_since_epoch()).count() - 1;
  const auto warm_start = Clock::now();
  publish(warm_up);
  while (done(warm_up) < stations && Clock::now() - warm_start < std::chrono::minutes(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::printf("first second of every station (the counters registered): %.1f s\n",
              std::chrono::duration<double>(Clock::now() - warm_start).count());

  double cpu_start[3];
  for (int i = 0; i < 3; ++i) cpu_start[i] = CpuSeconds(pids[i]);
  const auto wall_start = Clock::now();
  const int64_t first = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count() + 1;
  std::map<int64_t, Clock::time_point> published;
  std::vector<double> latencies;
  int64_t next_publish = first, next_check = first;
  // Every station publishes at the start of each second: harder than clocks spread over it.
  while (next_check < first + seconds || (next_check < next_publish && Clock::now() - wall_start <
                                                                             std::chrono::seconds(seconds + 30))) {
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch()).count();
    if (next_publish <= now && next_publish < first + seconds) {
      published[next_publish] = Clock::now();
      publish(next_publish++);
      continue;
    }
    if (next_check < next_publish && done(next_check) >= stations) {
      latencies.push_back(std::chrono::duration<double>(Clock::now() - published[next_check]).count());
      ++next_check;
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const double wall = std::chrono::duration<double>(Clock::now() - wall_start).count();
  double cpu[3];
  for (int i = 0; i < 3; ++i) cpu[i] = CpuSeconds(pids[i]) - cpu_start[i];
  const int64_t stored = db.Exec("SELECT coalesce(sum(measured), 0) FROM seconds").Int(0, 0);
  // A year of one station: a row per minute and a summary per hour and per day, each at what its
  // rows take here, indexes included, once vacuum has taken back the room of each minute's
  // earlier versions (updated at every commit while the minute fills).
  db.Exec("VACUUM FULL");
  const auto bytes_per_row = [&](const char* table) {
    const std::string t(table);
    const double bytes = double(db.Exec("SELECT coalesce(sum(pg_total_relation_size(c.oid)), 0) FROM pg_inherits i "
                                        "JOIN pg_class c ON c.oid = i.inhrelid WHERE i.inhparent = '" + t + "'::regclass")
                                    .Int(0, 0));
    return bytes / double(std::max<int64_t>(1, db.Exec("SELECT count(*) FROM " + t).Int(0, 0)));
  };
  const double minute_row = bytes_per_row("seconds"), summary_row = bytes_per_row("summaries");
  const double year_bytes = minute_row * 525'960 + summary_row * (8766 + 365);
  const std::vector<double> slow = latencies;
  std::sort(latencies.begin(), latencies.end());
  const auto at = [&](double q) {
    return latencies.empty() ? -1.0 : latencies[std::min(latencies.size() - 1, size_t(q * double(latencies.size())))];
  };
  const int64_t expected = int64_t{stations} * (seconds + 1);
  std::printf("stations %d, seconds %d: stored %lld of %lld (%s)\n", stations, seconds, static_cast<long long>(stored),
              static_cast<long long>(expected), stored == expected ? "all" : "SHORT");
  std::printf("publish to commit of a whole second (all stations): p50 %.2f s, p99 %.2f s, max %.2f s over %zu seconds\n",
              at(0.5), at(0.99), latencies.empty() ? -1.0 : latencies.back(), latencies.size());
  for (int i = 0; i < 3; ++i) std::printf("cpu %-9s %5.1f %% of one core\n", names[i], 100.0 * cpu[i] / wall);
  std::printf("store: %.0f bytes a minute row, %.0f a summary row: %.1f MB per station-year\n", minute_row,
              summary_row, year_bytes / 1e6);
  for (size_t i = 0; i < latencies.size(); ++i)
    if (slow[i] > 2.0) std::printf("slow: second %zu took %.2f s\n", i, slow[i]);
  mosquitto_disconnect(client);
  mosquitto_loop_stop(client, false);
  mosquitto_destroy(client);
  mosquitto_lib_cleanup();
  return stored == expected && at(0.99) < 2.0 ? 0 : 1;
}

}  // namespace
}  // namespace norvane

int main(int argc, char** argv) { return norvane::Main(argc, argv); }
