#include "core/serial/port_catalogue.h"

#include <algorithm>
#include <cstdlib>
#include <charconv>
#include <fstream>
#include <system_error>

namespace norvane {
namespace {

namespace fs = std::filesystem;

// The kinds of device node a counter's USB bridge shows up as, in the order they are listed:
// the USB ones first, since that is where a counter is.
constexpr std::string_view kPrefixes[] = {"ttyUSB", "ttyACM", "ttyS"};

struct Found {
  size_t kind;
  unsigned long index;
  std::string name;
};

std::optional<Found> ParseDeviceName(const std::string& name) {
  for (size_t kind = 0; kind < std::size(kPrefixes); ++kind) {
    const std::string_view prefix = kPrefixes[kind];
    if (!name.starts_with(prefix) || name.size() == prefix.size()) continue;
    unsigned long index = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    auto [end, ec] = std::from_chars(first, last, index);
    if (ec != std::errc{} || end != last) continue;
    return Found{kind, index, name};
  }
  return std::nullopt;
}

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// The USB product name, found a few levels above the tty's device in sysfs.
std::string UsbProduct(const fs::path& sys_dir, const std::string& name) {
  std::error_code ec;
  fs::path dir = fs::canonical(sys_dir / name / "device", ec);
  if (ec) return {};
  for (int level = 0; level < 4 && !dir.empty() && dir != dir.root_path(); ++level, dir = dir.parent_path()) {
    if (fs::exists(dir / "product", ec)) {
      std::string product = FirstLine(dir / "product");
      const std::string maker = FirstLine(dir / "manufacturer");
      if (!maker.empty() && product.find(maker) == std::string::npos) product = maker + " " + product;
      return product;
    }
  }
  return {};
}

std::string Describe(const Found& found, const fs::path& sys_dir) {
  if (found.kind == 2) return "serial port";
  const std::string product = UsbProduct(sys_dir, found.name);
  const std::string kind = found.kind == 0 ? "USB serial" : "USB modem (ACM)";
  return product.empty() ? kind : kind + ": " + product;
}

std::string Canonical(std::string_view path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::path(path), ec);
  return ec ? std::string(path) : p.string();
}

std::string DescribeExtra(const std::string& path, std::string_view origin) {
  std::error_code ec;
  std::string description(origin);
  if (fs::is_symlink(path, ec)) description += ", link to " + fs::read_symlink(path, ec).string();
  return description;
}

}  // namespace

PortCatalogue PortCatalogue::Discover(const std::vector<std::string>& extra_paths,
                                      const EnvironmentLookup& environment, const fs::path& device_dir,
                                      const fs::path& sys_dir) {
  std::vector<Found> found;
  std::error_code ec;
  for (fs::directory_iterator it(device_dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (auto f = ParseDeviceName(it->path().filename().string())) found.push_back(std::move(*f));
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    return a.kind != b.kind ? a.kind < b.kind : a.index < b.index;
  });

  PortCatalogue catalogue;
  for (const Found& f : found) catalogue.Add((device_dir / f.name).string(), Describe(f, sys_dir));
  for (const std::string& path : extra_paths) catalogue.Add(path, DescribeExtra(path, "named on the command line"));
  if (environment) {
    if (auto list = environment("NORVANE_PORTS")) {
      std::string_view rest = *list;
      while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string_view item = rest.substr(0, colon);
        if (!item.empty()) catalogue.Add(std::string(item), DescribeExtra(std::string(item), "from NORVANE_PORTS"));
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
      }
    }
  }
  return catalogue;
}

PortCatalogue PortCatalogue::DiscoverMachine(const std::vector<std::string>& extra_paths) {
  return Discover(extra_paths, [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
  });
}

int PortCatalogue::Add(std::string path, std::string description) {
  if (int number = NumberOf(path)) return number;
  const int number = static_cast<int>(ports_.size()) + 1;
  ports_.push_back({number, std::move(path), std::move(description)});
  return number;
}

std::optional<std::string> PortCatalogue::PathOf(int number) const {
  if (number < 1 || static_cast<size_t>(number) > ports_.size()) return std::nullopt;
  return ports_[static_cast<size_t>(number) - 1].path;
}

int PortCatalogue::NumberOf(std::string_view path) const {
  for (const PortEntry& p : ports_)
    if (p.path == path) return p.number;
  const std::string canonical = Canonical(path);
  for (const PortEntry& p : ports_)
    if (Canonical(p.path) == canonical) return p.number;
  return 0;
}

std::optional<int> PortCatalogue::Resolve(std::string_view number_or_path) {
  if (number_or_path.empty()) return std::nullopt;
  int number = 0;
  const char* last = number_or_path.data() + number_or_path.size();
  auto [end, ec] = std::from_chars(number_or_path.data(), last, number);
  if (ec == std::errc{} && end == last) {
    if (number < 1) return std::nullopt;
    return number;  // may lie beyond the list: opening it then says so
  }
  if (number_or_path.find('/') == std::string_view::npos) return std::nullopt;
  return Add(std::string(number_or_path), DescribeExtra(std::string(number_or_path), "named on the command line"));
}

}  // namespace norvane
