#pragma once
// What an operation of the model found wrong, in the operator's words. The model never opens a
// dialog: it returns its faults, and the windows show them and vexa-cli prints them.

#include <QList>
#include <QString>
#include <QStringList>

#include "core/Services.h"

namespace vexa {

struct TFault {
  QString Text;
  TMsgIcon Icon = TMsgIcon::Error;  // a warning lets the operator's work go on
};

// Marked [[nodiscard]]: a dropped result is a fault no one is told of.
class [[nodiscard]] TFaults {
 public:
  TFaults() = default;
  explicit TFaults(const QString& text, TMsgIcon icon = TMsgIcon::Error) { Add(text, icon); }

  void Add(const QString& text, TMsgIcon icon = TMsgIcon::Error) {
    if (!text.isEmpty()) items_.append({text, icon});
  }
  void Add(const TFaults& other) { items_ << other.items_; }
  bool Empty() const { return items_.isEmpty(); }
  // By value, so that `for (… : Operation().Items())` never walks a freed list.
  QList<TFault> Items() const { return items_; }
  QStringList Texts() const {
    QStringList texts;
    for (const TFault& f : items_) texts << f.Text;
    return texts;
  }

 private:
  QList<TFault> items_;
};

}  // namespace vexa
