#pragma once
// What an operation of the model found wrong, in the operator's words. The model never opens a
// dialog: it returns its faults, and the windows show them and vexa-cli prints them.

#include <QString>
#include <QStringList>
#include <utility>

namespace vexa {

class TFaults {
 public:
  TFaults() = default;
  explicit TFaults(const QString& text) { Add(text); }

  void Add(const QString& text) {
    if (!text.isEmpty()) texts_ << text;
  }
  void Add(const TFaults& other) { texts_ << other.texts_; }
  bool Empty() const { return texts_.isEmpty(); }
  const QStringList& Texts() const& { return texts_; }
  // Of a temporary by value, so that `for (… : Operation().Texts())` never walks a freed list.
  QStringList Texts() && { return std::move(texts_); }

 private:
  QStringList texts_;
};

}  // namespace vexa
