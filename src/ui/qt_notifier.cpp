#include "ui/qt_notifier.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include "ui/qt_text.h"

namespace norvane {
QtNotifier::QtNotifier(QWidget* owner, StatusSink status) : owner_(owner), status_(std::move(status)) {
  moveToThread(owner->thread());
  message_ = [this](const QString& text, const QString& caption) {
    QMessageBox::information(owner_, caption.isEmpty() ? QStringLiteral("Norvane Data Viewer") : caption, text);
  };
  ask_ = [this](const QString& question, const QString& caption) {
    return QMessageBox::question(owner_, caption, question, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
}

void QtNotifier::OnOwnerThread(const std::function<void()>& work, bool wait) {
  if (QThread::currentThread() == thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(this, work, wait ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
}

void QtNotifier::Message(std::string_view text, std::string_view caption) {
  const QString t = ToQString(text), c = ToQString(caption);
  OnOwnerThread([this, t, c] { message_(Shown(t), c.isEmpty() ? c : Shown(c)); }, true);
}

void QtNotifier::Status(std::string_view line) {
  const QString l = ToQString(line);
  OnOwnerThread([this, l] { status_(Shown(l)); }, false);
}

bool QtNotifier::Ask(std::string_view question, std::string_view caption) {
  const QString q = ToQString(question), c = ToQString(caption);
  bool answer = false;
  OnOwnerThread([&] { answer = ask_(Shown(q), c.isEmpty() ? c : Shown(c)); }, true);
  return answer;
}

}  // namespace norvane
