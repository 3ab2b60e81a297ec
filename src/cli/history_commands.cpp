// walk and window: decode a history image offline, as the window would after loading it.
#include <charconv>
#include <ostream>

#include "cli/command.h"
#include "cli/image_loading.h"
#include "cli/text_output.h"
#include "core/common/text_format.h"
#include "core/history/data_set.h"

namespace norvane::cli {
namespace {

// Prints walk events, buffered: a full image has millions of samples.
class WalkPrinter : public HistoryEventSink {
 public:
  explicit WalkPrinter(std::ostream& out) : out_(out) {}
  ~WalkPrinter() override { Flush(); }

  void OnStamp(size_t offset, const StampTime& t, uint8_t type) override {
    Line(Format("stamp %zu 20%02d-%02d-%02d %02d:%02d:%02d %d", offset, t.year, t.month, t.day, t.hour, t.minute,
                t.second, type));
  }
  void OnNote(size_t offset, std::string_view text) override {
    Line(Format("note %zu ", offset) + Printable(text));
  }
  void OnSample(size_t offset, uint32_t value) override { Line(Format("sample %zu %u", offset, value)); }

 private:
  void Line(const std::string& line) {
    buffer_ += line;
    buffer_ += '\n';
    if (buffer_.size() > (1u << 16)) Flush();
  }
  void Flush() {
    out_ << buffer_;
    buffer_.clear();
  }

  std::ostream& out_;
  std::string buffer_;
};

template <typename Array>
std::string Joined(const Array& values, const char* separator) {
  std::string out;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) out += separator;
    out += std::to_string(values[i]);
  }
  return out;
}

}  // namespace

int RunWalk(CommandContext& context) {
  if (context.args.size() != 1)
    return context.Usage(context.args.empty() ? "walk needs an IMAGE" : "walk takes one IMAGE");
  DataSet data(0);
  if (int code = LoadImage(context, context.args[0], data)) return code;
  WalkPrinter printer(context.out);
  HistoryWalk(data.dump.image().data(), data.dump.image_size(), printer);
  return kExitOk;
}

int RunWindow(CommandContext& context) {
  if (context.args.size() > 1) return context.Usage("unexpected argument '" + context.args[1] + "'");
  if (context.args.empty()) return context.Usage("window needs an IMAGE");
  const std::string& image = context.args.front();
  const bool json = context.options.Has("--json");
  std::optional<size_t> pos;
  if (const std::optional<std::string> text = context.options.Value("--pos")) {
    size_t value = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc{} || end != text->data() + text->size())
      return context.Usage("--pos needs a byte position, not '" + *text + "'");
    pos = value;
  }

  DataSet data(0);
  if (int code = LoadImage(context, image, data)) return code;
  // As the window does: after a load the chart shows the start, then the user scrolls.
  data.RefillFromStart();
  if (pos) data.Refill(*pos, false);

  const HistoryWindow& w = data.window;
  const WindowReadout& r = data.readout;
  if (json) {
    PrintJson(context.out, {{"position", w.position},
                            {"values", w.values},
                            {"types", w.types},
                            {"sum", w.sum},
                            {"rate", JsonText(r.rate)},
                            {"dose", JsonText(r.dose)},
                            {"time", JsonText(r.time)},
                            {"note", JsonText(r.note)},
                            {"first_step", w.first_step}});
  } else {
    context.out << "position   " << w.position << "\nvalues     " << Joined(w.values, " ") << "\ntypes      "
                << Joined(w.types, " ") << "\nsum        " << w.sum << "\nrate       " << r.rate << "\ndose       "
                << r.dose << "\ntime       " << r.time << "\nnote       " << Printable(r.note)
                << "\nfirst_step " << w.first_step << "\n";
  }
  return kExitOk;
}

}  // namespace norvane::cli
