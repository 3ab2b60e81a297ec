#include "cli/progress_display.h"

#include <algorithm>
#include <cmath>

#include "core/common/text_format.h"

namespace norvane::cli {
namespace {

constexpr int kBarWidth = 20;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Before this much time and progress a rate says more about start-up than about the line.
constexpr double kMinSecondsForRate = 0.5;

std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    out += c == '\n' ? ' ' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string Duration(double seconds) {
  const long s = std::lround(seconds);
  if (s >= 3600) return Format("%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  return Format("%ld:%02ld", s / 60, s % 60);
}

}  // namespace

std::string ProgressBarText(uint32_t done, uint32_t total, std::chrono::duration<double> elapsed) {
  done = std::min(done, total);
  const double fraction = total ? static_cast<double>(done) / total : 0.0;
  const int filled = static_cast<int>(fraction * kBarWidth);
  std::string text = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(kBarWidth - filled), '-') + "] ";
  text += Format("%3d%%  %u/%u bytes  ", static_cast<int>(fraction * 100), done, total);
  const double seconds = elapsed.count();
  if (seconds >= kMinSecondsForRate && done > 0) {
    const double rate = done / seconds;
    text += FormatFixed(rate / 1000, 1) + " kB/s  " + Duration((total - done) / rate) + " left";
  } else {
    text += "- kB/s  - left";
  }
  return text;
}

ProgressDisplay::ProgressDisplay(std::ostream& err, bool terminal, Now now)
    : err_(err), terminal_(terminal), now_(std::move(now)) {}

void ProgressDisplay::ClearBar() {
  if (terminal_ && bar_shown_) err_ << "\r\033[K";
}

void ProgressDisplay::DrawBar() {
  const auto elapsed = started_ ? now_() - *started_ : std::chrono::steady_clock::duration{};
  err_ << (terminal_ ? "\r\033[K" : "") << ProgressBarText(done_, total_, elapsed) << (terminal_ ? "" : "\n");
  err_.flush();
  bar_shown_ = terminal_;
}

void ProgressDisplay::Line(std::string_view text) {
  std::lock_guard lock(mutex_);
  ClearBar();
  err_ << OneLine(text) << "\n";
  if (bar_shown_) DrawBar();
  err_.flush();
}

void ProgressDisplay::Message(std::string_view text, std::string_view caption) {
  Line(caption.empty() ? std::string(text) : std::string(caption) + ": " + std::string(text));
}

void ProgressDisplay::Status(std::string_view line) { Line(line); }

bool ProgressDisplay::Ask(std::string_view question, std::string_view caption) {
  // A tool never waits for a keyboard: every question is answered no.
  Line(std::string(caption) + ": " + std::string(question) + " no");
  return false;
}

void ProgressDisplay::DownloadProgressed(uint32_t address, uint32_t image_size) {
  std::lock_guard lock(mutex_);
  // The download reports 0 as it ends; the bar keeps the last state reached.
  if (address == 0 || image_size == 0) return;
  const auto now = now_();
  if (!started_) started_ = now;
  done_ = address;
  total_ = image_size;
  if (terminal_) {
    if (now - last_draw_ < kRedrawInterval && address < image_size) return;
    last_draw_ = now;
    DrawBar();
    return;
  }
  const int tenths = static_cast<int>(uint64_t{address} * 10 / image_size);
  if (tenths <= tenths_printed_) return;
  tenths_printed_ = tenths;
  DrawBar();
}

void ProgressDisplay::Finish(uint32_t done) {
  std::lock_guard lock(mutex_);
  if (total_ == 0) return;  // nothing arrived: there is no bar
  done_ = std::min(done, total_);
  if (terminal_) {
    DrawBar();
    err_ << "\n";
    err_.flush();
  } else if (static_cast<int>(uint64_t{done_} * 10 / total_) > tenths_printed_) {
    tenths_printed_ = static_cast<int>(uint64_t{done_} * 10 / total_);
    DrawBar();
  }
  bar_shown_ = false;
}

}  // namespace norvane::cli
