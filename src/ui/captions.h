// The window's numbered texts: fetched from the dictionary, and set again when the language changes.
#pragma once

#include <QDialogButtonBox>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

#include "core/i18n/language_dictionary.h"
#include "ui/qt_text.h"

namespace norvane {

// OK and Cancel in the dictionary's language; Qt's own words would stay English.
inline QDialogButtonBox* OkCancelButtons(const LanguageDictionary& texts, QWidget* parent) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, parent);
  buttons->button(QDialogButtonBox::Ok)->setText(ToQString(texts.GetText(2)));
  buttons->button(QDialogButtonBox::Cancel)->setText(ToQString(texts.GetText(3)));
  return buttons;
}

class Captions {
 public:
  explicit Captions(const LanguageDictionary& dictionary) : dictionary_(dictionary) {}

  // Text number `entry`; `%1`, `%2`… in it are left for QString::arg.
  QString operator()(int entry) const { return ToQString(dictionary_.GetText(entry)); }

  // Runs `apply` now and again at every Refresh while `owner` lives.
  void Bind(QObject* owner, std::function<void()> apply) {
    apply();
    bound_.push_back({QPointer<QObject>(owner), std::move(apply)});
  }
  // For buttons, labels and actions: the text, with its Alt mnemonic where the text has one.
  template <typename T>
  T* Text(T* target, int entry) {
    Bind(target, [this, target, entry] { target->setText((*this)(entry)); });
    return target;
  }
  // The same for the texts numbered before the window's own, which carry no mnemonic marker.
  template <typename T>
  T* Text(T* target, int entry, QChar key) {
    Bind(target, [this, target, entry, key] { target->setText(WithMnemonic((*this)(entry), key)); });
    return target;
  }
  // A text shown until the window replaces it with something of its own (a reading, say).
  template <typename T>
  T* Initial(T* target, int entry) {
    Bind(target, [this, target, entry, shown = QString()]() mutable {
      if (target->text() != shown) return;
      shown = (*this)(entry);
      target->setText(shown);
    });
    return target;
  }
  template <typename T>
  T* Tip(T* target, int entry) {
    Bind(target, [this, target, entry] { target->setToolTip((*this)(entry)); });
    return target;
  }

  void Refresh() {
    std::erase_if(bound_, [](const Binding& b) { return b.owner.isNull(); });
    for (const Binding& b : bound_) b.apply();
  }

 private:
  struct Binding {
    QPointer<QObject> owner;
    std::function<void()> apply;
  };
  const LanguageDictionary& dictionary_;
  std::vector<Binding> bound_;
};

}  // namespace norvane
