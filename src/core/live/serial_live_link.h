// The live engine's link over a real serial port (or a simulator's pseudo-terminal).
#pragma once

#include <string>
#include <vector>

#include "core/common/user_notifier.h"
#include "core/live/live_link.h"
#include "core/serial/serial_link.h"

namespace norvane::live {

class SerialLiveLink final : public LiveLink {
 public:
  // `extra_paths` join the machine's ports in a search (a path given on the command line, or
  // NORVANE_PORTS).
  explicit SerialLiveLink(std::vector<std::string> extra_paths);
  ~SerialLiveLink() override;

  std::vector<std::string> Candidates() override;
  LinkOpen Open(const std::string& path, int baud) override;
  void Close() override;
  void Discard() override;
  bool Send(std::span<const uint8_t> frame, int delay_ms) override;
  size_t Read(std::vector<uint8_t>& into, Steady::time_point deadline) override;
  bool Present() override;
  std::string StablePath(const std::string& path) override;

  // Every byte in and out, for a bug report (--trace); must outlive the link or be detached.
  void SetTrace(LinkTrace* trace) { link_.SetTrace(trace); }

 private:
  // The link's own messages are the engine's to word: it says why a search failed.
  class Quiet final : public UserNotifier {
   public:
    void Message(std::string_view, std::string_view) override {}
    void Status(std::string_view) override {}
    bool Ask(std::string_view, std::string_view) override { return false; }
  };

  std::vector<std::string> extra_paths_;
  PortCatalogue ports_;
  Quiet quiet_;
  CSerialLink link_;
  std::string path_;
};

}  // namespace norvane::live
