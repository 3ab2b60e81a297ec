// norvane-viewer's own command line, answered as the real program does without any display.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace norvane {
namespace {

#ifdef NORVANE_VIEWER_PATH
struct Answer {
  int code = -1;
  std::string out;  // with stderr after it
};

// No X11, no Wayland and no platform chosen: Qt would abort if it looked for a display.
Answer RunViewer(const std::string& arguments) {
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM COLUMNS=60 " +
                              std::string(NORVANE_VIEWER_PATH) + " " + arguments + " 2>&1";
  Answer answer;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return answer;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) answer.out.append(buffer, n);
  const int status = pclose(pipe);
  answer.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return answer;
}

TEST(ViewerArguments, HelpVersionAndAMistypedOptionNeedNoDisplay) {
  const Answer help = RunViewer("--help");
  EXPECT_EQ(help.code, 0) << help.out;
  EXPECT_TRUE(help.out.starts_with("usage: norvane-viewer [--port DEV]")) << help.out;
  for (size_t begin = 0, end; (end = help.out.find('\n', begin)) != std::string::npos; begin = end + 1)
    EXPECT_LE(end - begin, 60u) << help.out.substr(begin, end - begin);

  const Answer version = RunViewer("-platform xcb --version");
  EXPECT_EQ(version.code, 0) << version.out;
  EXPECT_EQ(version.out, std::string("norvane-viewer ") + NORVANE_VERSION + "\n");

  const Answer bogus = RunViewer("--bogus");
  EXPECT_EQ(bogus.code, 2);
  EXPECT_EQ(bogus.out, "norvane-viewer: unknown option '--bogus'; see 'norvane-viewer --help'\n");
}
#endif

}  // namespace
}  // namespace norvane
