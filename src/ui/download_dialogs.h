// The history download's two windows: the "Download Options" dialog and the progress window.
#pragma once

#include <QDialog>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/history/download.h"
#include "core/i18n/language_dictionary.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;

namespace norvane {

// End mode and speed before a download. A speed outside 0-100 is shown as 50. "Download New" is
// offered, and chosen at first, when the counter's last download is kept.
class DownloadOptionsDialog : public QDialog {
  Q_OBJECT
 public:
  DownloadOptionsDialog(const DownloadOptions& options, const LanguageDictionary& texts, QWidget* parent = nullptr,
                        bool last_download_kept = false);

  // What the dialog shows; the caller takes it after exec() returns Accepted.
  DownloadOptions options() const;

  QRadioButton* end_of_data_button() const { return end_of_data_button_; }
  QRadioButton* entire_flash_button() const { return entire_flash_button_; }
  QRadioButton* only_new_button() const { return only_new_button_; }
  QSlider* speed_slider() const { return speed_slider_; }
  QLabel* speed_label() const { return speed_label_; }

 private:
  void ShowSpeed(int speed);

  QRadioButton* end_of_data_button_;
  QRadioButton* entire_flash_button_;
  QRadioButton* only_new_button_;
  int end_mode_;  // kept for a Download New, which reads to the end of data either way
  QSlider* speed_slider_;
  QLabel* speed_label_;
};

// Non-modal, so the main window stays usable while the download runs. Its title carries the
// percentage, renewed at most every 500 ms so a fast download does not flood the window manager.
// The download thread may report through DownloadProgress; those calls are carried over to the
// window's thread.
class DownloadProgressWindow : public QDialog, public DownloadProgress {
  Q_OBJECT
 public:
  using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::milliseconds kTitleInterval{500};

  explicit DownloadProgressWindow(QWidget* parent = nullptr, SteadyNow now = {});

  // The title, the detail line and Cancel in `texts`' language from now on; kept by reference.
  void UseTexts(const LanguageDictionary& texts);

  // A new download: the range, an empty bar, the caption as title, Cancel enabled.
  void Start(uint32_t image_size);
  // The bar to `address` of 0..image_size; Cancel while the address is below the end.
  void Progressed(uint32_t address, uint32_t image_size);

  // From any thread.
  void DownloadProgressed(uint32_t address, uint32_t image_size) override;

  QProgressBar* bar() const { return bar_; }
  // Bytes so far, the rate and the time left.
  QLabel* detail() const { return detail_; }
  QPushButton* cancel_button() const { return cancel_button_; }

  // Cancel, Escape and the window's close button all come here.
  void reject() override;

 signals:
  void cancelRequested();

 private:
  QString Shown(const std::string& english) const;

  SteadyNow now_;
  const LanguageDictionary* texts_ = nullptr;
  std::optional<std::chrono::steady_clock::time_point> last_title_;
  std::chrono::steady_clock::time_point started_{};
  QProgressBar* bar_;
  QLabel* detail_;
  QPushButton* cancel_button_;
};

}  // namespace norvane
