// The Language menu: the shipped dictionaries, applied to the open window and its dialogs at once.
#include <QAction>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <qcustomplot.h>

#include "core/config/config_file.h"
#include "core/files/dump_file.h"
#include "core/files/file_saver.h"
#include "core/history/download.h"
#include "core/i18n/window_texts.h"
#include "core/serial/port_access.h"
#include "core/serial/serial_link.h"
#include "tests/ui/main_window_fixture.h"
#include "ui/color_dialog.h"
#include "ui/config_editor_dialog.h"
#include "ui/download_dialogs.h"
#include "ui/file_types.h"
#include "ui/longterm_chart_window.h"
#include "ui/map_setup_dialog.h"
#include "ui/port_settings_dialog.h"
#include "ui/publishing_dialog.h"
#include "ui/qt_language.h"
#include "ui/settings_dialog.h"
#include "ui/terminal_dialog.h"

namespace norvane {
namespace {

// Names that are the same in every language.
const QStringList kNames = {"Norvane Data Viewer", "English", "Deutsch", "Français", "Español", "Xon/Xoff",
                            "ZQTmap", "Radioactive@Home"};

// What a user reads on `root` itself, its menus included; not the texts of other windows. A
// label that shows its "&" (no buddy to give the key to), and a menu item named as its menu, go
// into `faults`.
void AddShownTexts(QWidget* root, QStringList& texts, const QWidget* data_list, QStringList& faults) {
  auto add = [&](const QString& text) {
    if (!text.isEmpty()) texts << PlainCaption(text);
  };
  add(root->windowTitle());
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (w->window() != root || w == data_list) continue;
    add(w->toolTip());
    if (auto* label = qobject_cast<QLabel*>(w); label && label->text().contains('&') && !label->buddy() &&
                                               label->textFormat() != Qt::RichText && !label->text().contains("&&"))
      faults << "a literal & in " + label->text();
    if (auto* label = qobject_cast<QLabel*>(w)) add(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) add(button->text());
    if (auto* group = qobject_cast<QGroupBox*>(w)) add(group->title());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) add(edit->placeholderText());
    if (auto* list = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < list->count(); ++i) add(list->itemText(i));
  }
  for (QAction* action : root->findChildren<QAction*>()) add(action->text());
  for (QMenu* menu : root->findChildren<QMenu*>())
    for (QAction* item : menu->actions())
      if (!item->menu() && !item->text().isEmpty() && PlainCaption(item->text()) == PlainCaption(menu->title()))
        faults << "the menu " + PlainCaption(menu->title()) + " holds an item of its own name";
}

// UTF-8 read as Latin-1 or Windows-1252 on its way to the screen: "HÃ¶chstens", "Ã‰talonnage".
bool LooksGarbled(const QString& text) {
  static const QRegularExpression garbled(QStringLiteral("\u00C3[^\\x{00}-\\x{7F}]|\u00E2\u20AC"));
  return garbled.match(text).hasMatch();
}

class MainWindowLanguageTest : public MainWindowTest {
 protected:
  // The window's texts, those of the long-term chart open beside it, the names of its file types,
  // those of each of its dialogs, made as the commands make them, Qt's file dialog and the About
  // box's lines.
  QStringList AllTexts(CMainViewerDlg& w) {
    QStringList texts;
    AddShownTexts(&w, texts, w.Control(1168), faults_);  // the model list holds names
    AddShownTexts(w.findChild<LongtermChartWindow*>(), texts, nullptr, faults_);
    AddShownTexts(w.findChild<DownloadProgressWindow*>(), texts, nullptr, faults_);
    for (const std::string_view filter : {kRealtimeSaveFilter, kDownloadFilter, kLoadFilter, kHistoryCsvFilter}) {
      const FileTypes types(filter, w.context().dictionary);
      for (const QString& type : types.shown()) texts << type.left(type.lastIndexOf(" ("));
    }
    AppContext& ctx = w.context();
    std::vector<std::unique_ptr<QDialog>> dialogs;
    dialogs.push_back(std::make_unique<ColorDialog>(0, 0, false, ctx.dictionary, &w));
    dialogs.push_back(std::make_unique<DownloadOptionsDialog>(DownloadOptions{}, ctx.dictionary, &w, true));
    dialogs.push_back(std::make_unique<PortSettingsDialog>(ctx, w.worker(), w.notifier(), &w));
    dialogs.push_back(std::make_unique<MapSetupDialog>(ctx, w.worker(), w.notifier(), &w));
    dialogs.push_back(std::make_unique<PublishingDialog>(ctx.store, dir_ / "mqtt-password", ctx.dictionary, &w));
    dialogs.push_back(std::make_unique<SettingsDialog>(ctx, w.worker(), w.notifier(), &w));
    dialogs.push_back(std::make_unique<ConfigEditorDialog>(ctx, w.worker(), w.notifier(), &w));
    dialogs.push_back(std::make_unique<TerminalDialog>(ctx, w.worker(), w.notifier(), &w));
    auto files = std::make_unique<QFileDialog>(&w, QString(), QString::fromStdString(dir_.path().string()));
    files->setOption(QFileDialog::DontUseNativeDialog);
    files->setAcceptMode(QFileDialog::AcceptSave);
    dialogs.push_back(std::move(files));
    for (const auto& dialog : dialogs) AddShownTexts(dialog.get(), texts, nullptr, faults_);
    dialogs.clear();
    w.worker().WaitIdle();
    w.Command(32781)->trigger();
    if (auto* about = w.findChild<QMessageBox*>("about")) {
      for (const QString& line : about->text().split('\n', Qt::SkipEmptyParts)) texts << line.section(": ", 0, 0) << line.section(": ", 1);
      delete about;
    }
    for (const QString& text : texts)
      if (LooksGarbled(text)) faults_ << "garbled: " + text;
    return texts;
  }
  QStringList faults_;
  static QAction* LanguageChoice(CMainViewerDlg& w, const QString& name) {
    for (QAction* action : w.findChildren<QAction*>())
      if (action->actionGroup() && PlainCaption(action->text()) == name) return action;
    return nullptr;
  }
};

TEST_F(MainWindowLanguageTest, EveryTextFollowsTheChosenLanguageAtOnceAndEnglishComesBack) {
  ViewerOptions options;
  options.language_folders = {NORVANE_LANGUAGE_DIR};
  auto w = Open({}, options);
  auto* chart = new LongtermChartWindow(dir_ / "store.sqlite", dir_ / "settings.reg", w.get());
  ASSERT_TRUE(WaitFor([&] { return chart->Settled() && !chart->status_text().isEmpty(); }, 20000));
  // The elapsed time of a monitoring run stays on screen after it: in the language of the moment.
  w->ToggleDemo();
  ASSERT_TRUE(WaitFor([&] { return Text(*w, 1042).contains(" Day "); }, 8000)) << Text(*w, 1042).toStdString();
  w->ToggleDemo();
  ASSERT_TRUE(WaitFor([&] { return !w->polling() && !w->worker().busy(); }, 8000));
  w->SetCloseQuestion([](const QString&) { return CloseAnswer::kNo; });
  const QStringList english = AllTexts(*w);
  ASSERT_GT(english.size(), 150);
  EXPECT_TRUE(faults_.isEmpty()) << faults_.join(" | ").toStdString();
  faults_.clear();

  // Codes, units, numbers, keys and addresses read the same everywhere.
  const QRegularExpression word("[a-z]{2}");
  auto is_name = [](const QString& text) {
    return kNames.contains(text) || text.startsWith("COM") || text.startsWith("Ctrl+") || text.contains("://") ||
           text.startsWith('/');
  };
  // Core's lines as the link, the download and the store write them, in English.
  DownloadReport cancelled;
  cancelled.bytes = 2048;
  cancelled.requests = 3;
  cancelled.elapsed = std::chrono::milliseconds(1500);
  const std::vector<std::string> core_lines = {
      "COM2 opened successfully.", "ZQT-400 detected on comport 2.", "Please try again!", "Downloading started..",
      DownloadSummaryLine(cancelled), EnglishText(kTextLineDownloadCancelled),
      "7517 of 7517 history records were new to the long-term store.", "Data saved into: /tmp/h.bin",
      DownloadProgressDetail(8192, 10240, std::chrono::seconds(3))};
  QStringList last;
  for (const QString language : {"Deutsch", "Français", "Español"}) {
    QAction* choice = LanguageChoice(*w, language);
    ASSERT_NE(choice, nullptr) << language.toStdString();
    choice->trigger();
    EXPECT_TRUE(w->context().settings.language_file.ends_with(".dic.txt"));
    // A translation may be the English word; a text the dictionary does not have is left over.
    QStringList translations;
    for (int n = 0; n < w->context().dictionary.Count(); ++n)
      translations << PlainCaption(ToQString(w->context().dictionary.GetText(n)));
    QStringList left_in_english, left_from_last;
    const QStringList shown = AllTexts(*w);
    for (const QString& text : shown) {
      if (!text.contains(word) || is_name(text) || translations.contains(text)) continue;
      if (english.contains(text)) left_in_english << text;
      else if (last.contains(text)) left_from_last << text;
    }
    last = shown;
    // The long-term chart's dates name their months as the language does ("8 Dez. 2026").
    ASSERT_TRUE(WaitFor([&] { return chart->Settled(); }, 20000));
    chart->plot()->replot();
    const QLocale locale = LanguageLocale(w->context().dictionary);
    const QStringList dates = chart->plot()->xAxis->tickVectorLabels().toList().filter(QRegularExpression("\\d{4}"));
    ASSERT_FALSE(dates.isEmpty()) << chart->plot()->xAxis->tickVectorLabels().toList().join(" | ").toStdString();
    for (const QString& date : dates)
      for (int m = 1; m <= 12; ++m) {
        const QString english_month = QLocale(QLocale::English).monthName(m, QLocale::ShortFormat);
        if (date.contains(QRegularExpression("\\b" + english_month + "\\b")) &&
            locale.monthName(m, QLocale::ShortFormat) != english_month)
          left_in_english << date;
      }
    EXPECT_TRUE(left_in_english.isEmpty()) << language.toStdString() << ": " << left_in_english.join(" | ").toStdString();
    EXPECT_TRUE(left_from_last.isEmpty()) << language.toStdString() << ": " << left_from_last.join(" | ").toStdString();
    EXPECT_TRUE(faults_.isEmpty()) << language.toStdString() << ": " << faults_.join(" | ").toStdString();
    faults_.clear();
    for (const std::string& line : core_lines) {
      w->notifier().Status(line);
      EXPECT_FALSE(w->StatusLog().endsWith(ToQString(line))) << language.toStdString() << ": " << line;
    }
    // Core's English lines reach the log in the chosen language.
    w->notifier().Status(EnglishText(kTextLineLookingAgain, {"8"}));
    EXPECT_TRUE(w->StatusLog().endsWith(ToQString(FillIn(w->context().dictionary.GetText(kTextLineLookingAgain), {"8"}))))
        << w->StatusLog().toStdString();
    // What gets saved follows the chosen type, not its translated name.
    const FileTypes types(kRealtimeSaveFilter, w->context().dictionary);
    EXPECT_EQ(RealtimePatternsFor(types.TypeText(types.shown().front())), (std::vector<std::string_view>{"*.rbn", "*.csv"}))
        << language.toStdString();
  }
  // Latin-1 in the file, the right letters on the screen.
  EXPECT_EQ(Text(*w, 1162), "Descargar");
  LanguageChoice(*w, "Français")->trigger();
  EXPECT_EQ(Text(*w, 1162), "Télécharger");

  LanguageChoice(*w, "English")->trigger();
  EXPECT_EQ(w->context().settings.language_file, "");
  QStringList back = AllTexts(*w);
  QStringList expected = english;
  back.sort();
  expected.sort();
  EXPECT_EQ(back, expected);
}

// Message boxes core raises in English, with their captions, reach the user in the chosen language.
TEST_F(MainWindowLanguageTest, CoreMessageBoxesAndCaptionsFollowTheChosenLanguage) {
  ViewerOptions options;
  options.language_folders = {NORVANE_LANGUAGE_DIR};
  auto w = Open({}, options);
  QStringList shown;
  w->notifier().SetMessageHandler([&](const QString& text, const QString& caption) { shown << text << caption; });
  const std::string missing = (dir_ / "missing.bin").string();
  // The port-access advice in each of its shapes, every paragraph a catalogue text or a command.
  SerialSystemFacts braille;
  braille.braille_claimed_chips = {"CH340"};
  braille.braille_rules = "/lib/udev/rules.d/85-brltty.rules";
  std::vector<std::string> advices;
  for (const auto& [group, grants, now, member] : {std::tuple{"dialout", true, false, false}, {"root", false, false, false},
                                                   {"", false, false, false}, {"uucp", true, true, true},
                                                   {"uucp", true, false, true}}) {
    const PortAccess denied{PortAccessState::kNoPermission, EACCES, group, grants, now, member, {}};
    braille.bridges_without_tty = advices.empty() ? std::vector<std::string>{"CH340"} : std::vector<std::string>{};
    advices.push_back(*PortAccessAdvice({{"/dev/ttyUSB0", denied}}, braille));
  }
  auto raise = [&] {
    shown.clear();
    for (const std::string& advice : advices)
      w->notifier().Message(advice, EnglishText(kTextCaptionPortAccess));
    ConfigBlock block{};
    LoadConfigFile(missing, block, w->notifier());
    SaveConfigFile(block, ConfigFileFormat::kCsv, (dir_ / "no-folder" / "config").string(), w->notifier());
    LoadDumpFile(missing, w->context().data.dump, w->notifier());
    w->notifier().Message(OpenFailureText(3, "Device or resource busy"), kOpenFailureCaption);
    w->notifier().Message("Comport error on SETSSID! \r\n Please try again!", "Long-term store");
  };
  raise();
  const QStringList english = shown;
  ASSERT_EQ(english.size(), 20) << english.join(" | ").toStdString();
  for (const QString language : {"Deutsch", "Français", "Español"}) {
    LanguageChoice(*w, language)->trigger();
    raise();
    ASSERT_EQ(shown.size(), english.size()) << language.toStdString();
    for (qsizetype i = 0; i < shown.size(); ++i) {
      if (english[i].isEmpty()) continue;
      // The values filled in (paths) stay as they are; the words around them and the system's reason go.
      EXPECT_FALSE(shown[i].contains(english[i].left(12))) << language.toStdString() << ": " << shown[i].toStdString();
      EXPECT_FALSE(LooksGarbled(shown[i])) << shown[i].toStdString();
    }
    // Every paragraph of the advice goes, the commands to type stay as they are.
    for (qsizetype a = 0; a < static_cast<qsizetype>(advices.size()); ++a)
      for (const QString& paragraph : ToQString(advices[static_cast<size_t>(a)]).split("\n\n"))
        EXPECT_EQ(shown[2 * a].contains(paragraph), paragraph.startsWith("    "))
            << language.toStdString() << ": " << shown[2 * a].toStdString();
    EXPECT_TRUE(shown.filter("missing.bin").size() == 1 &&
                shown.filter(ToQString(w->context().dictionary.GetText(kTextSystemBusy))).size() == 1)
        << shown.join(" | ").toStdString();
  }
}

}  // namespace
}  // namespace norvane
