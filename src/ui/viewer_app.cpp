#include "ui/viewer_app.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <span>

#include "core/common/option_table.h"
#include "core/common/program_version.h"
#include "core/i18n/window_texts.h"
#include "core/platform/settings_location.h"
#include "core/platform/store_location.h"
#include "core/platform/terminal_width.h"
#include "core/serial/port_access.h"
#include "core/serial/port_catalogue.h"
#include "ui/longterm_chart_window.h"
#include "ui/qt_text.h"

namespace norvane {
namespace {

// A refused port otherwise shows only as a failed connect, so the fix is offered once at start.
// Offscreen runs are tests and benchmarks, which must not stop at a dialog unless they ask
// (NORVANE_PORT_ADVICE=1).
void OfferPortAccessAdvice(CMainViewerDlg& window, const std::vector<std::string>& extra_ports) {
  if (QGuiApplication::platformName() == QLatin1String("offscreen") && qEnvironmentVariableIsEmpty("NORVANE_PORT_ADVICE"))
    return;
  const std::optional<std::string> advice = MachinePortAccessAdvice(extra_ports);
  if (!advice) return;
  const LanguageDictionary& dictionary = window.context().dictionary;
  const QString caption = ToQString(dictionary.GetText(kTextCaptionPortAccess));
  auto* box = new QMessageBox(QMessageBox::Warning, caption, ToQString(dictionary.TranslatedLine(*advice)),
                              QMessageBox::Ok, &window);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

// The shipped dictionaries: beside the program in a build tree; installed, in the desktop's data
// folders (the user's own first), or under share/ beside bin/ for an installation moved elsewhere.
std::vector<std::filesystem::path> LanguageFolders() {
  const QString program_folder = QCoreApplication::applicationDirPath();
  std::vector<std::filesystem::path> folders{(program_folder + "/languages").toStdString()};
  for (const QString& folder : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                         QStringLiteral("norvane-data-viewer/languages"),
                                                         QStandardPaths::LocateDirectory))
    folders.emplace_back(folder.toStdString());
  folders.emplace_back((program_folder + "/../share/norvane-data-viewer/languages").toStdString());
  return folders;
}

constexpr OptionEntry kViewerOptions[] = {
    {"--port", "DEV", "connect to this port at start (a number, or a device path such as /dev/ttyUSB0 or a simulator's pseudo-terminal)"},
    {"--settings", "FILE", "settings file (default: $NORVANE_SETTINGS, else ~/.config/norvane-data-viewer/settings.reg)"},
    {"--chart", "", "open only the long-term chart of the store ($NORVANE_STORE, else ~/.local/share/norvane-data-viewer/store.sqlite)"},
    {"--help", "", "show this text", {}, "-h"},
    {"--version", "", "show the program's name and version"},
};

// Qt's own options, with one dash or two. QApplication takes them off the command line, but the
// arguments are read before it is made, so that the usage needs no display: they are passed over.
constexpr std::string_view kQtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                                "qwindowgeometry", "geometry", "qwindowicon", "qwindowtitle",
                                                "title", "session", "display", "name", "style", "stylesheet"};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "qmljsdebugger"};

std::vector<std::string> WithoutQtOptions(std::span<const std::string> arguments) {
  std::vector<std::string> kept;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string_view a = arguments[i];
    const bool option = a.starts_with('-') && a != "--";
    while (a.starts_with('-')) a.remove_prefix(1);
    const size_t equals = a.find('=');
    const std::string_view name = a.substr(0, equals);
    if (option && std::ranges::find(kQtFlags, name) != std::end(kQtFlags)) continue;
    if (option && std::ranges::find(kQtValueOptions, name) != std::end(kQtValueOptions)) {
      if (equals == std::string_view::npos) ++i;
      continue;
    }
    kept.push_back(arguments[i]);
  }
  return kept;
}

}  // namespace

ViewerArguments ParseViewerArguments(const std::vector<std::string>& arguments) {
  ViewerArguments parsed;
  parsed.options.settings_path = DefaultSettingsPath();
  parsed.options.store_path = DefaultStorePath();
  const ParsedOptions given =
      ParseOptions(WithoutQtOptions(std::span(arguments).subspan(arguments.empty() ? 0 : 1)), kViewerOptions);
  if (!given.problem.empty() || !given.words.empty()) {
    parsed.slip = given.problem.empty() ? "unexpected argument '" + given.words.front() + "'" : given.problem;
    return parsed;
  }
  parsed.help = given.Has("--help");
  parsed.version = given.Has("--version");
  parsed.chart = given.Has("--chart");
  if (auto settings = given.Value("--settings")) parsed.options.settings_path = *settings;
  if (const std::optional<std::string> port = given.Value("--port")) {
    if (port->find('/') != std::string::npos) {
      parsed.options.extra_ports.push_back(*port);
      PortCatalogue catalogue = PortCatalogue::DiscoverMachine(parsed.options.extra_ports);
      parsed.options.port = catalogue.NumberOf(*port);
    } else {
      bool ok = false;
      const int number = QString::fromStdString(*port).toInt(&ok);
      if (!ok || number < 1) {
        parsed.error = "--port needs a port number or a device path, not '" + *port + "'";
        return parsed;
      }
      parsed.options.port = number;
    }
  }
  return parsed;
}

std::optional<int> AnswerWithoutWindow(const std::vector<std::string>& arguments) {
  const ViewerArguments parsed = ParseViewerArguments(arguments);
  if (parsed.slip) {
    std::fprintf(stderr, "norvane-viewer: %s; see 'norvane-viewer --help'\n", parsed.slip->c_str());
    return 2;
  }
  if (parsed.version) {
    std::printf("norvane-viewer %s\n", std::string(ProgramVersion()).c_str());
    return 0;
  }
  if (parsed.help || parsed.error) {
    if (parsed.error) std::fprintf(stderr, "norvane-viewer: %s\n", parsed.error->c_str());
    const size_t width = HelpWidth();
    std::string usage = "usage: " + WrapText("norvane-viewer [--port DEV] [--settings FILE] [--chart]", width, 7, 7).substr(7) +
                        "       norvane-viewer --version\n\noptions:\n" + HelpColumns(OptionRows(kViewerOptions), width);
    std::fputs(usage.c_str(), parsed.error ? stderr : stdout);
    return parsed.error ? 2 : 0;
  }
  return std::nullopt;
}

int CViewerApp::Run(const QStringList& qt_arguments) {
  std::vector<std::string> arguments;
  for (const QString& a : qt_arguments) arguments.push_back(a.toStdString());
  if (const std::optional<int> answered = AnswerWithoutWindow(arguments)) return *answered;
  const ViewerArguments parsed = ParseViewerArguments(arguments);
  if (parsed.chart) {
    LongtermChartWindow chart(DefaultStorePath(), parsed.options.settings_path);
    chart.show();
    return QApplication::exec();
  }
  ViewerOptions options = parsed.options;
  options.language_folders = LanguageFolders();
  CMainViewerDlg window(std::move(options));
  window.show();
  window.Initialise();
  OfferPortAccessAdvice(window, parsed.options.extra_ports);
  window.exec();
  return 0;
}

}  // namespace norvane
