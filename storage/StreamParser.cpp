#include "storage/StreamParser.h"

#include <QLocale>
#include <cmath>

#include "core/Services.h"
#include "storage/StreamExtended.h"

namespace vexa {

namespace {

class TParser {
 public:
  explicit TParser(const QByteArray& bytes)
      : p_(reinterpret_cast<const uint8_t*>(bytes.constData())), size_(bytes.size()) {}

  qsizetype Pos() const { return pos_; }

  [[noreturn]] void Fail(const QString& what) const {
    throw EStreamError(QStringLiteral("Malformed component stream at byte %1: %2").arg(pos_).arg(what));
  }

  void Need(qsizetype n) const {
    if (n < 0 || size_ - pos_ < n) Fail(QStringLiteral("unexpected end of the stream"));
  }

  uint8_t Byte() {
    Need(1);
    return p_[pos_++];
  }

  uint64_t Le(int n) {
    Need(n);
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint64_t{p_[pos_ + i]} << (8 * i);
    pos_ += n;
    return v;
  }

  QByteArray Bytes(qsizetype n) {
    Need(n);
    QByteArray b(reinterpret_cast<const char*>(p_ + pos_), n);
    pos_ += n;
    return b;
  }

  // Text of n bytes in code page 1251.
  QString Text(qsizetype n) {
    Need(n);
    const char* b = reinterpret_cast<const char*>(p_ + pos_);
    pos_ += n;
    for (qsizetype i = 0; i < n; ++i)
      if (static_cast<unsigned char>(b[i]) >= 0x80) return FromCp1251(QByteArray(b, n));
    return QString::fromLatin1(b, n);
  }

  QString ShortString() { return Text(Byte()); }

  // The leading run of text elements of a list; stops before any other tag.
  TTextList Lines() {
    // A first pass over the lengths alone, so the list takes exactly the room it needs.
    qsizetype count = 0, bytes = 0;
    for (qsizetype at = pos_;;) {
      const qsizetype left = size_ - at;
      qsizetype length = 0;
      if (left >= 2 && p_[at] == vaString) {
        length = p_[at + 1];
        at += 2;
      } else if (left >= 5 && p_[at] == vaLString) {
        length = static_cast<qsizetype>(p_[at + 1] | (p_[at + 2] << 8) | (p_[at + 3] << 16) |
                                        (static_cast<uint32_t>(p_[at + 4]) << 24));
        at += 5;
      } else {
        break;
      }
      if (length > size_ - at) break;  // the second pass reports it
      at += length;
      ++count;
      bytes += length;
    }
    // Plain ASCII (every history) is its own UTF-8: the entries are copied as they are, and only
    // a list that turns out to hold other text is read again entry by entry.
    const qsizetype start = pos_;
    TTextList lines;
    {
      // The first pass checked every tag and length: these are read without checks.
      TTextList::TAppender out(lines, count, bytes);
      const uint8_t* at = p_ + pos_;
      const uint8_t* const end = p_ + size_;
      for (qsizetype k = 0; k < count; ++k) {
        qsizetype n = 0;
        if (*at == vaLString) {
          n = static_cast<qsizetype>(at[1] | (at[2] << 8) | (at[3] << 16) |
                                     (static_cast<uint32_t>(at[4]) << 24));
          at += 5;
        } else {
          n = at[1];
          at += 2;
        }
        out.Add(QByteArrayView(at, n), end - at);
        at += n;
      }
      pos_ = at - p_;
    }
    if (!lines.KnownAscii()) {
      lines.clear();
      pos_ = start;
      lines.Reserve(count, bytes);
    }
    for (;;) {
      if (size_ - pos_ < 1 || (p_[pos_] != vaString && p_[pos_] != vaLString)) return lines;
      const bool isLong = p_[pos_++] == vaLString;
      const uint64_t n = isLong ? Le(4) : Byte();
      if (n > static_cast<uint64_t>(size_ - pos_))
        Fail(QStringLiteral("string of %1 bytes past the end").arg(n));
      lines.AppendCp1251(QByteArrayView(p_ + pos_, static_cast<qsizetype>(n)));
      pos_ += static_cast<qsizetype>(n);
    }
  }

  TStreamValue Value(int depth) {
    TStreamValue v;
    v.Tag = static_cast<TValueTag>(Byte());
    switch (v.Tag) {
      case vaInt8:
        v.Int = static_cast<int8_t>(Le(1));  // NOLINT(bugprone-signed-char-misuse): a signed byte
        break;
      case vaInt16:
        v.Int = static_cast<int16_t>(Le(2));
        break;
      case vaInt32:
        v.Int = static_cast<int32_t>(Le(4));
        break;
      case vaExtended: {
        Need(10);
        v.Float = ExtendedToDouble(p_ + pos_);
        pos_ += 10;
        break;
      }
      case vaString:
      case vaIdent:
        v.Text = ShortString();
        break;
      case vaLString: {
        const uint64_t n = Le(4);
        if (n > static_cast<uint64_t>(size_ - pos_))
          Fail(QStringLiteral("string of %1 bytes past the end").arg(n));
        v.Text = Text(static_cast<qsizetype>(n));
        break;
      }
      case vaFalse:
      case vaTrue:
      case vaNil:
        break;
      case vaSet:
        for (;;) {
          const QString item = ShortString();
          if (item.isEmpty()) break;
          v.Items << item;
        }
        break;
      case vaList:
        if (depth > 0) Fail(QStringLiteral("list inside a list"));
        v.Lines = Lines();
        for (;;) {
          Need(1);
          if (p_[pos_] == vaNull) {
            ++pos_;
            break;
          }
          if (v.List.empty()) {
            // Not a list of texts after all: the texts so far become elements like the rest.
            for (qsizetype i = 0; i < v.Lines.size(); ++i) {
              TStreamValue text;
              text.Text = v.Lines.at(i);
              text.Tag = v.Lines.Utf8At(i).size() > 255 ? vaLString : vaString;
              v.List.push_back(std::move(text));
            }
            v.Lines.clear();
          }
          v.List.push_back(Value(depth + 1));
        }
        break;
      default:
        Fail(QStringLiteral("unknown value tag 0x%1").arg(static_cast<int>(v.Tag), 2, 16, QLatin1Char('0')));
    }
    return v;
  }

 private:
  const uint8_t* p_;
  qsizetype size_;
  qsizetype pos_ = 0;
};

}  // namespace

TParsedStream ParseComponentStream(const QByteArray& bytes) {
  TParser in(bytes);
  TParsedStream s;
  s.Records.reserve(32);  // a register's records, without growing on the way
  if (!bytes.startsWith(QByteArrayLiteral("TPF0")))
    throw EStreamError(QStringLiteral("Not a component stream: the signature TPF0 is missing"));
  in.Bytes(4);
  if (bytes.size() > 4 && (static_cast<uint8_t>(bytes[4]) & 0xF0) == 0xF0)
    in.Fail(QStringLiteral("inherited or inline component streams are not supported"));
  s.ClassName = in.ShortString();
  if (s.ClassName.isEmpty()) in.Fail(QStringLiteral("empty class name"));
  s.Name = in.ShortString();
  for (;;) {
    const QString name = in.ShortString();
    if (name.isEmpty()) break;
    s.Records.push_back({name, in.Value(0)});
  }
  if (in.Byte() != vaNull) in.Fail(QStringLiteral("child components inside a component stream"));
  return s;
}

QString QuotedText(const QString& text) {
  if (text.isEmpty()) return QStringLiteral("''");
  QString out;
  out.reserve(text.size() + 2);
  bool open = false;
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) {
      if (open) out += QLatin1Char('\'');
      open = false;
      out += QLatin1Char('#') + QString::number(u);
      continue;
    }
    if (!open) out += QLatin1Char('\'');
    open = true;
    out += c;
    if (c == QLatin1Char('\'')) out += c;
  }
  if (open) out += QLatin1Char('\'');
  return out;
}

QString FloatText(double value) {
  if (std::isnan(value)) return QStringLiteral("NaN");
  if (std::isinf(value)) return value < 0 ? QStringLiteral("-Inf") : QStringLiteral("Inf");
  QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
  if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e'))) text += QLatin1String(".0");
  return text;
}

QString StreamValueText(const TStreamValue& v) {
  switch (v.Tag) {
    case vaInt8:
    case vaInt16:
    case vaInt32:
      return QString::number(v.Int);
    case vaExtended:
      return FloatText(v.Float);
    case vaString:
    case vaLString:
      return QuotedText(v.Text);
    case vaIdent:
      return v.Text;
    case vaFalse:
      return QStringLiteral("False");
    case vaTrue:
      return QStringLiteral("True");
    case vaNil:
      return QStringLiteral("nil");
    case vaSet:
      return QLatin1Char('[') + v.Items.join(QLatin1String(", ")) + QLatin1Char(']');
    case vaList: {
      QStringList items;
      items.reserve(v.Lines.size() + static_cast<qsizetype>(v.List.size()));
      for (qsizetype i = 0; i < v.Lines.size(); ++i) items << QuotedText(v.Lines.at(i));
      for (const TStreamValue& e : v.List) items << StreamValueText(e);
      return QLatin1Char('(') + items.join(QLatin1String(", ")) + QLatin1Char(')');
    }
    case vaNull:
      break;
  }
  return QString();
}

}  // namespace vexa
