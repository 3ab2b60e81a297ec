// The terminal's frames, parameter box and receive boxes.
#include "core/tools/terminal_frame.h"

#include <gtest/gtest.h>

#include <string>

namespace norvane {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(TerminalFrame, HexadecimalParameters) {
  TerminalFrame f = BuildTerminalFrame("SPIR", "00 00 00 00 FF", false);
  EXPECT_EQ(f.error, "");
  EXPECT_EQ(f.bytes, (std::vector<uint8_t>{0x3C, 0x53, 0x50, 0x49, 0x52, 0, 0, 0, 0, 0xFF, 0x3E, 0x3E}));
  // Leading and one trailing space are fine; either case of digit is.
  EXPECT_EQ(BuildTerminalFrame("WCFG", "  0a Ae f0 ", false).bytes, Bytes("<WCFG\x0A\xAE\xF0>>"));
  // No parameters: the command alone.
  EXPECT_EQ(BuildTerminalFrame("GETVER", "", false).bytes, Bytes("<GETVER>>"));
  EXPECT_EQ(BuildTerminalFrame("GETVER", "   ", false).bytes, Bytes("<GETVER>>"));
}

TEST(TerminalFrame, RefusedParametersSendNothing) {
  const TerminalFrame no_space = BuildTerminalFrame("SPIR", "00AE", false);
  EXPECT_EQ(no_space.error, "Parameter error, space needed in between.");
  EXPECT_TRUE(no_space.bytes.empty());
  EXPECT_EQ(BuildTerminalFrame("SPIR", "a", false).error, "Parameter error!");
  EXPECT_EQ(BuildTerminalFrame("SPIR", "a", true).error, "Parameter error!");
  // Half a pair at the end, or no digits at all, must not become a byte.
  for (std::string_view bad : {"00 A", "0G", "zz", "00  AE"}) {
    const TerminalFrame f = BuildTerminalFrame("SPIR", bad, false);
    EXPECT_FALSE(f.error.empty()) << bad;
    EXPECT_TRUE(f.bytes.empty()) << bad;
  }
  // A command of one character or none builds nothing and says nothing.
  for (std::string_view short_word : {"", "G"}) {
    const TerminalFrame f = BuildTerminalFrame(short_word, "00 01", false);
    EXPECT_TRUE(f.bytes.empty());
    EXPECT_EQ(f.error, "");
  }
}

TEST(TerminalFrame, TextParameters) {
  EXPECT_EQ(BuildTerminalFrame("SETSSID", "AB C", true).bytes, Bytes("<SETSSIDAB C>>"));
  // Trailing spaces go, leading ones stay: they are part of what was typed.
  EXPECT_EQ(BuildTerminalFrame("SETSSID", " AB  ", true).bytes, Bytes("<SETSSID AB>>"));
  EXPECT_EQ(HexEcho(Bytes("<GETVER>>")), "3C 47 45 54 56 45 52 3E 3E ");
}

TEST(TerminalParameterBox, ByCommandText) {
  const ParameterBox cpm = ParameterBoxFor("GETCPM");
  EXPECT_FALSE(cpm.enabled);
  EXPECT_FALSE(cpm.text.has_value());  // kept as it is
  EXPECT_EQ(ParameterBoxFor("WCFG").text, "01 01");
  EXPECT_EQ(ParameterBoxFor("SETDATETIME").text, "0D 0B 12 05 04 03");
  EXPECT_EQ(ParameterBoxFor("SPIPW").text, "00 00 00 00 02 55 AA");
  const ParameterBox other = ParameterBoxFor("SETSSID");
  EXPECT_TRUE(other.enabled);
  EXPECT_EQ(other.text, "");
  // Case matters: a typed "spir" is some other command.
  EXPECT_EQ(ParameterBoxFor("spir").text, "");
  EXPECT_FALSE(ParameterBoxFor("GetRAM").enabled);
  ASSERT_EQ(TerminalCommandList().size(), 24u);
  EXPECT_EQ(TerminalCommandList().front(), "GETVER");
  EXPECT_EQ(TerminalCommandList().back(), "FACTORYRESET");
  EXPECT_EQ(KeyButtonCommand(1), "KEY0");
  EXPECT_EQ(KeyButtonCommand(4), "KEY3");
  EXPECT_EQ(KeyButtonCommand(5), "");
}

TEST(TerminalReceiveBox, ReplacesOnceMoreThanHalfFull) {
  ReceiveBox box(20);
  box.Append("0123456789");  // 10: exactly half, not more
  box.Append("A");
  EXPECT_EQ(box.text(), "0123456789A");
  box.Append("B");  // 11 held: more than half, so this replaces everything
  EXPECT_EQ(box.text(), "B");
  // Line breaks are not counted.
  ReceiveBox lines(20);
  lines.Append("0123\r\n4567\r\n89");
  lines.Append("X");
  EXPECT_EQ(lines.text(), "0123\r\n4567\r\n89X");
  lines.Clear();
  lines.Append("Y");
  EXPECT_EQ(lines.text(), "Y");
  EXPECT_EQ(PortSettingsText(3, 115200, "n", 8, 1), "COM3,115200,n,8,1");
}

}  // namespace
}  // namespace norvane
