// The window's UserNotifier: message boxes and questions owned by the window, lines in its log.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

#include "core/common/user_notifier.h"

namespace norvane {

// Core code may call this from any thread (the live engine, the download, a device worker). Calls
// from other threads are carried over to the window's thread; a message or a question waits
// there for the user, so a worker sees the answer as the old synchronous code did.
class QtNotifier final : public QObject, public UserNotifier {
  Q_OBJECT
 public:
  using StatusSink = std::function<void(const QString&)>;
  // Questions and messages go through these, so tests can answer without a modal box.
  using AskHandler = std::function<bool(const QString& question, const QString& caption)>;
  using MessageHandler = std::function<void(const QString& text, const QString& caption)>;
  // Core's English lines, messages, questions and captions pass through this on the window's
  // thread, where the window's dictionary lives, before they are shown.
  using Translator = std::function<QString(const QString&)>;

  QtNotifier(QWidget* owner, StatusSink status);

  void Message(std::string_view text, std::string_view caption = {}) override;
  void Status(std::string_view line) override;
  bool Ask(std::string_view question, std::string_view caption) override;

  void SetAskHandler(AskHandler handler) { ask_ = std::move(handler); }
  void SetMessageHandler(MessageHandler handler) { message_ = std::move(handler); }
  void SetTranslator(Translator translate) { translate_ = std::move(translate); }
  // `text` as the window shows it; on the window's thread only.
  QString Shown(const QString& text) const { return translate_ ? translate_(text) : text; }

 private:
  // Runs `work` on the window's thread and waits for it when called from elsewhere.
  void OnOwnerThread(const std::function<void()>& work, bool wait);

  QPointer<QWidget> owner_;
  StatusSink status_;
  AskHandler ask_;
  MessageHandler message_;
  Translator translate_;
};

}  // namespace norvane
