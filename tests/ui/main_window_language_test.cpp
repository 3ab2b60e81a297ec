// The Language menu: the shipped dictionaries, applied to the open window and its dialogs at once.
#include <QAction>
#include <QGroupBox>
#include <QLineEdit>
#include <QRegularExpression>

#include "core/files/file_saver.h"
#include "core/i18n/window_texts.h"
#include "tests/ui/main_window_fixture.h"
#include "ui/color_dialog.h"
#include "ui/config_editor_dialog.h"
#include "ui/download_dialogs.h"
#include "ui/file_types.h"
#include "ui/longterm_chart_window.h"
#include "ui/map_setup_dialog.h"
#include "ui/port_settings_dialog.h"
#include "ui/publishing_dialog.h"
#include "ui/settings_dialog.h"
#include "ui/terminal_dialog.h"

namespace norvane {
namespace {

// Names that are the same in every language.
const QStringList kNames = {"Norvane Data Viewer", "English", "Deutsch", "Français", "Español", "Xon/Xoff",
                            "ZQTmap", "Radioactive@Home"};

// What a user reads on `root` itself, its menus included; not the texts of other windows.
void AddShownTexts(QWidget* root, QStringList& texts, const QWidget* data_list) {
  auto add = [&](const QString& text) {
    if (!text.isEmpty()) texts << PlainCaption(text);
  };
  add(root->windowTitle());
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (w->window() != root || w == data_list) continue;
    add(w->toolTip());
    if (auto* label = qobject_cast<QLabel*>(w)) add(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(w)) add(button->text());
    if (auto* group = qobject_cast<QGroupBox*>(w)) add(group->title());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) add(edit->placeholderText());
    if (auto* list = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < list->count(); ++i) add(list->itemText(i));
  }
  for (QAction* action : root->findChildren<QAction*>()) add(action->text());
}

class MainWindowLanguageTest : public MainWindowTest {
 protected:
  // The window's texts, those of the long-term chart open beside it, the names of its file types
  // and those of each of its dialogs, made as the commands make them.
  QStringList AllTexts(CMainViewerDlg& w) {
    QStringList texts;
    AddShownTexts(&w, texts, w.Control(1168));  // the model list holds names
    AddShownTexts(w.findChild<LongtermChartWindow*>(), texts, nullptr);
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
    for (const auto& dialog : dialogs) AddShownTexts(dialog.get(), texts, nullptr);
    dialogs.clear();
    w.worker().WaitIdle();
    return texts;
  }
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
  const QStringList english = AllTexts(*w);
  ASSERT_GT(english.size(), 150);

  // Codes, units, numbers, keys and addresses read the same everywhere.
  const QRegularExpression word("[a-z]{2}");
  auto is_name = [](const QString& text) {
    return kNames.contains(text) || text.startsWith("COM") || text.startsWith("Ctrl+") || text.contains("://");
  };
  for (const QString language : {"Deutsch", "Français", "Español"}) {
    QAction* choice = LanguageChoice(*w, language);
    ASSERT_NE(choice, nullptr) << language.toStdString();
    choice->trigger();
    EXPECT_TRUE(w->context().settings.language_file.ends_with(".dic.txt"));
    // A translation may be the English word; a text the dictionary does not have is left over.
    QStringList translations;
    for (int n = 0; n < w->context().dictionary.Count(); ++n)
      translations << PlainCaption(ToQString(w->context().dictionary.GetText(n)));
    QStringList left_in_english;
    for (const QString& text : AllTexts(*w))
      if (english.contains(text) && text.contains(word) && !is_name(text) && !translations.contains(text))
        left_in_english << text;
    EXPECT_TRUE(left_in_english.isEmpty()) << language.toStdString() << ": " << left_in_english.join(" | ").toStdString();
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

}  // namespace
}  // namespace norvane
