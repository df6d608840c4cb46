#pragma once
// Qt's own dialogs (files, colours) in the program's language: Qt's Russian translation, and on a
// system that names no locale of its own (unset, C or POSIX) the Russian dates, file types and
// defaults, as the program's own number and date formats are then the Russian ones.

#include <QByteArray>
#include <QTranslator>
#include <functional>
#include <memory>

namespace vexa {

// Whether an environment (a variable's value by name) names no locale: every one of LC_ALL,
// LC_MESSAGES, LC_NUMERIC, LC_TIME and LANG unset, empty, C or POSIX (C.UTF-8 too).
bool NamesNoLocale(const std::function<QByteArray(const char*)>& variable);

// Run before the application object is made, then SettleRussianDates after it: where the
// environment names no locale, Qt's system locale shows dates as the Russian one does (the file
// dialog's dates) and the default locale is Russian (the file dialog's file types). The
// environment and the C library's locale are left as they were.
class TRussianDates {
 public:
  TRussianDates();
  // Once the application object exists: Qt has read the system locale by then.
  void Settle();
  bool Applied() const { return applied_; }

 private:
  bool applied_ = false;
  bool settled_ = false;
  QByteArray previous_;  // LC_TIME as it was: unset, empty or C
  bool hadPrevious_ = false;
};

// Qt's Russian translation (qtbase_ru from Qt's translations folder), installed in the
// application; null when the system has none (the dialogs then stay in English and work the same).
// Texts Qt 6 asks for under a context its translation still files them under Qt 5's (the file
// type "Folder") are found there.
std::unique_ptr<QTranslator> InstallQtRussian();

}  // namespace vexa
