#include "ui/viewer_app.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdio>

#include "core/platform/settings_location.h"
#include "core/platform/store_location.h"
#include "core/serial/port_access.h"
#include "core/serial/port_catalogue.h"
#include "ui/longterm_chart_window.h"
#include "ui/qt_text.h"

namespace norvane {
namespace {

// A refused port otherwise shows only as a failed connect, so the fix is offered once at start.
// Offscreen runs are tests and benchmarks, which must not stop at a dialog unless they ask
// (NORVANE_PORT_ADVICE=1).
void OfferPortAccessAdvice(QWidget& window, const std::vector<std::string>& extra_ports) {
  if (QGuiApplication::platformName() == QLatin1String("offscreen") && qEnvironmentVariableIsEmpty("NORVANE_PORT_ADVICE"))
    return;
  const std::optional<std::string> advice = MachinePortAccessAdvice(extra_ports);
  if (!advice) return;
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Serial port access"), ToQString(*advice),
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

}  // namespace

ViewerArguments ParseViewerArguments(const QStringList& arguments) {
  ViewerArguments parsed;
  parsed.options.settings_path = DefaultSettingsPath();
  parsed.options.store_path = DefaultStorePath();
  std::optional<std::string> port;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == "--help" || a == "-h") {
      parsed.help = true;
    } else if (a == "--chart") {
      parsed.chart = true;
    } else if ((a == "--port" || a == "--settings") && i + 1 < arguments.size()) {
      const std::string value = arguments[++i].toStdString();
      if (a == "--port") port = value;
      else parsed.options.settings_path = value;
    } else {
      parsed.error = "unknown or incomplete argument '" + a.toStdString() + "'";
      return parsed;
    }
  }
  if (port) {
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

std::optional<int> AnswerWithoutWindow(const QStringList& arguments) {
  const ViewerArguments parsed = ParseViewerArguments(arguments);
  if (parsed.help || parsed.error) {
    if (parsed.error) std::fprintf(stderr, "norvane-viewer: %s\n", parsed.error->c_str());
    std::fprintf(parsed.error ? stderr : stdout,
                 "usage: norvane-viewer [--port DEV] [--settings FILE] [--chart]\n"
                 "  --port DEV       connect to this port at start (a number, or a device path such as\n"
                 "                   /dev/ttyUSB0 or a simulator's pseudo-terminal)\n"
                 "  --settings FILE  settings file (default: $NORVANE_SETTINGS, else\n"
                 "                   ~/.config/norvane-data-viewer/settings.reg)\n"
                 "  --chart          open only the long-term chart of the store ($NORVANE_STORE, else\n"
                 "                   ~/.local/share/norvane-data-viewer/store.sqlite)\n");
    return parsed.error ? 2 : 0;
  }
  return std::nullopt;
}

int CViewerApp::Run(const QStringList& arguments) {
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
