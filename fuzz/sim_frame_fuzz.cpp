// Feeds arbitrary bytes to the simulated counter's frame parser, as a noisy line would.
#include <cstdint>
#include <vector>

#include "sim/frame_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the write-address form; the rest is the line.
  norvane::sim::FrameParser parser(data[0] & 1 ? 8 : 4);
  std::vector<norvane::sim::Frame> frames;
  for (size_t i = 1; i < size; ++i) {
    parser.Push(data[i], frames);
    if (frames.size() > i) __builtin_trap();  // never more frames than bytes seen
  }
  for (const auto& frame : frames)
    if (frame.arguments.size() > norvane::sim::FrameParser::kMaxFrame) __builtin_trap();
  return 0;
}
