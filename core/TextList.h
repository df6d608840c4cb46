#pragma once
// TTextList: a list of short texts held in one UTF-8 buffer with an end offset per entry. A register's
// history is two lists of up to 1200 entries and a network keeps hundreds of them; as separate
// QStrings they would take four to five times their text and most of the time of a state load.
// Copies share the buffer until one of them changes (like Qt's containers).

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <cstring>
#include <initializer_list>

namespace vexa {

class TTextList {
 public:
  TTextList() = default;
  // Implicit, so that code and tests can hand over a QStringList where a history is taken.
  TTextList(const QStringList& items);  // NOLINT(google-explicit-constructor)
  TTextList(std::initializer_list<QString> items);

  qsizetype size() const { return ends_.size() - head_; }
  bool isEmpty() const { return size() == 0; }
  QString at(qsizetype i) const { return QString::fromUtf8(Utf8At(i)); }
  QString value(qsizetype i, const QString& fallback = QString()) const;
  QString first() const { return at(0); }
  QString last() const { return at(size() - 1); }
  // The bytes of entry i, valid until the list changes. Inline: a stream walks every entry of
  // every history this way.
  QByteArrayView Utf8At(qsizetype i) const {
    Q_ASSERT(i >= 0 && i < size());
    const qsizetype physical = head_ + i;
    const qsizetype start = StartOf(physical);
    return QByteArrayView(text_.constData() + start, ends_[physical] - start);
  }
  // The bytes of all entries back to back, valid until the list changes.
  QByteArrayView Utf8Text() const;
  // f(QByteArrayView) for every entry in order: a walk over the list without a look-up per entry.
  template <class F>
  void ForEachUtf8(F&& f) const {
    const char* text = text_.constData();
    const quint32* ends = ends_.constData() + head_;
    quint32 start = static_cast<quint32>(StartOf(head_));
    for (qsizetype i = 0, n = size(); i < n; ++i) {
      f(QByteArrayView(text + start, ends[i] - start));
      start = ends[i];
    }
  }
  // True when every entry is known to be plain ASCII (every history is); false when some entry
  // may not be, so that a stream writer can take a history's bytes as they are without looking
  // at each of them first.
  bool KnownAscii() const { return ascii_; }
  // How many entries are longer than 255 bytes: a stream gives those a longer length prefix, and
  // knows a list's length from this, the count and Utf8Text().size().
  qsizetype LongEntries() const { return long_; }

  void append(const QString& text) { AppendUtf8(text.toUtf8()); }
  void AppendUtf8(QByteArrayView utf8);
  // Appends text in code page 1251, the encoding of component streams.
  void AppendCp1251(QByteArrayView bytes);
  void removeFirst();
  void clear();
  // Room for `entries` more entries with `bytes` more bytes of text.
  void Reserve(qsizetype entries, qsizetype bytes);

  QStringList ToStringList() const;

  // Appends many entries whose count and bytes are known beforehand, as a stream reader knows
  // them: the room is made once, and each Add is a copy, not an append with its checks. Nothing
  // else may change the list while an appender is alive; room left unused is given back at the end.
  class TAppender {
   public:
    // Inline, as Add is, so that a reader's loop keeps the appender in registers.
    TAppender(TTextList& list, qsizetype entries, qsizetype bytes) : list_(list) {
      const TRoom room = list.MakeRoom(entries, bytes);
      text_ = room.Text;
      ends_ = room.Ends;
      first_ = textAt_ = room.TextAt;
      textEnd_ = textAt_ + bytes;
      endsAt_ = room.EndsAt;
      endsEnd_ = endsAt_ + entries;
    }
    ~TAppender() { list_.TakeRoom(first_, textAt_, endsAt_, long_); }
    TAppender(const TAppender&) = delete;
    TAppender& operator=(const TAppender&) = delete;

    // Raises std::length_error past the room asked for.
    void Add(QByteArrayView utf8) { Add(utf8, utf8.size()); }
    // The same, `readable` bytes being there to read from utf8.data() (at least its size): a short
    // entry is then copied as one fixed move, the bytes past it written over by the next entry.
    // Inline: a stream reader adds every entry of every history this way.
    void Add(QByteArrayView utf8, qsizetype readable) {
      constexpr qsizetype kCopy = 32;
      const qsizetype n = utf8.size();
      if (endsAt_ == endsEnd_ || n > textEnd_ - textAt_) Overflow();
      char* to = text_ + textAt_;
      if (n <= kCopy && readable >= kCopy && textEnd_ - textAt_ >= kCopy)
        std::memcpy(to, utf8.data(), kCopy);
      else if (n > 0)
        std::memcpy(to, utf8.data(), static_cast<size_t>(n));
      if (n > kShortEntry) ++long_;
      textAt_ += n;
      ends_[endsAt_++] = static_cast<quint32>(textAt_);
    }

   private:
    [[noreturn]] static void Overflow();

    TTextList& list_;
    qsizetype first_;  // where the appended text starts
    qsizetype long_ = 0;
    char* text_;
    quint32* ends_;
    qsizetype textAt_;
    qsizetype textEnd_;
    qsizetype endsAt_;
    qsizetype endsEnd_;
  };

  friend bool operator==(const TTextList& a, const TTextList& b);
  friend bool operator!=(const TTextList& a, const TTextList& b) { return !(a == b); }
  friend bool operator==(const TTextList& a, const QStringList& b);
  friend bool operator!=(const TTextList& a, const QStringList& b) { return !(a == b); }

 private:
  qsizetype StartOf(qsizetype physical) const { return physical == 0 ? 0 : ends_[physical - 1]; }
  // An appender's room: the buffers grown by what it will add, and where its part begins.
  struct TRoom {
    char* Text;
    quint32* Ends;
    qsizetype TextAt;
    qsizetype EndsAt;
  };
  TRoom MakeRoom(qsizetype entries, qsizetype bytes);
  // What an appender filled of its room from `first`: the rest is given back.
  void TakeRoom(qsizetype first, qsizetype textEnd, qsizetype endsEnd, qsizetype longEntries);

  QByteArray text_;
  QList<quint32> ends_;  // end of each entry in text_, entries before head_ already removed
  qsizetype head_ = 0;
  // No byte of text_ is above 0x7F; false once one was appended, until the list is cleared.
  bool ascii_ = true;
  qsizetype long_ = 0;  // entries of more than kShortEntry bytes
  static constexpr qsizetype kShortEntry = 255;
};

// Lets QVariant turn a TTextList into a QStringList and back, so that generic property code (streams,
// dialogs, descriptions) can treat a history like any other string list.
void RegisterTextListConversions();

}  // namespace vexa

Q_DECLARE_METATYPE(vexa::TTextList)
