#include "core/TextList.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "core/Services.h"

namespace vexa {

namespace {

// Removed entries are dropped from the buffers once they are this many and half the list or more,
// so a history that slides by one entry per read costs O(1) per read on average.
constexpr qsizetype kCompactAfter = 64;

}  // namespace

TTextList::TTextList(const QStringList& items) {
  qsizetype bytes = 0;
  for (const QString& s : items) bytes += s.size();
  Reserve(items.size(), bytes);
  for (const QString& s : items) append(s);
}

TTextList::TTextList(std::initializer_list<QString> items) : TTextList(QStringList(items)) {}

QString TTextList::value(qsizetype i, const QString& fallback) const {
  return i >= 0 && i < size() ? at(i) : fallback;
}

QByteArrayView TTextList::Utf8Text() const {
  if (isEmpty()) return {};
  const qsizetype start = StartOf(head_);
  return QByteArrayView(text_.constData() + start, text_.size() - start);
}

namespace {

// Entries end at 32-bit offsets.
void CheckTextSize(qsizetype now, qsizetype more) {
  if (static_cast<quint64>(now) + static_cast<quint64>(more) > std::numeric_limits<quint32>::max())
    throw std::length_error("text list larger than 4 GiB");
}

}  // namespace

void TTextList::AppendUtf8(QByteArrayView utf8) {
  CheckTextSize(text_.size(), utf8.size());
  const qsizetype at = text_.size();
  text_.resize(at + utf8.size());
  if (!utf8.isEmpty()) std::memcpy(text_.data() + at, utf8.data(), static_cast<size_t>(utf8.size()));
  ends_.append(static_cast<quint32>(text_.size()));
  ascii_ = ascii_ && IsAsciiBytes(utf8);
  if (utf8.size() > kShortEntry) ++long_;
}

void TTextList::AppendCp1251(QByteArrayView bytes) {
  if (IsAsciiBytes(bytes))
    AppendUtf8(bytes);
  else
    AppendUtf8(FromCp1251(bytes.toByteArray()).toUtf8());
}

void TTextList::removeFirst() {
  if (isEmpty()) return;
  if (ends_[head_] - StartOf(head_) > kShortEntry) --long_;
  ++head_;
  if (head_ == ends_.size()) {
    clear();
    return;
  }
  if (head_ < kCompactAfter || head_ * 2 < ends_.size()) return;
  const quint32 cut = ends_[head_ - 1];
  text_.remove(0, cut);
  ends_.remove(0, head_);
  for (quint32& e : ends_) e -= cut;
  head_ = 0;
}

void TTextList::clear() {
  text_.clear();
  ends_.clear();
  head_ = 0;
  ascii_ = true;
  long_ = 0;
}

void TTextList::Reserve(qsizetype entries, qsizetype bytes) {
  ends_.reserve(ends_.size() + entries);
  text_.reserve(text_.size() + bytes);
}

TTextList::TRoom TTextList::MakeRoom(qsizetype entries, qsizetype bytes) {
  CheckTextSize(text_.size(), bytes);
  Reserve(entries, bytes);
  const TRoom room{nullptr, nullptr, text_.size(), ends_.size()};
  text_.resize(room.TextAt + bytes);
  ends_.resize(room.EndsAt + entries);
  return {text_.data(), ends_.data(), room.TextAt, room.EndsAt};
}

void TTextList::TakeRoom(qsizetype first, qsizetype textEnd, qsizetype endsEnd, qsizetype longEntries) {
  text_.resize(textEnd);
  ends_.resize(endsEnd);
  ascii_ = ascii_ && IsAsciiBytes(QByteArrayView(text_).sliced(first));
  long_ += longEntries;
}

void TTextList::TAppender::Overflow() {
  throw std::length_error("more text than the appender has room for");
}

QStringList TTextList::ToStringList() const {
  QStringList out;
  out.reserve(size());
  for (qsizetype i = 0; i < size(); ++i) out << at(i);
  return out;
}

bool operator==(const TTextList& a, const TTextList& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i)
    if (a.Utf8At(i) != b.Utf8At(i)) return false;
  return true;
}

bool operator==(const TTextList& a, const QStringList& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i)
    if (a.at(i) != b.at(i)) return false;
  return true;
}

void RegisterTextListConversions() {
  static const bool done = [] {
    QMetaType::registerConverter<TTextList, QStringList>(&TTextList::ToStringList);
    QMetaType::registerConverter<QStringList, TTextList>([](const QStringList& l) { return TTextList(l); });
    return true;
  }();
  Q_UNUSED(done);
}

}  // namespace vexa
