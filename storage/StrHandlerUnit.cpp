#include "storage/StrHandlerUnit.h"

#include <QVariant>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/Services.h"
#include "storage/CompoundFile.h"
#include "storage/PersistentClasses.h"
#include "storage/StgHandlerUnit.h"

namespace vexa {

EStreamError::EStreamError(const QString& message) : std::runtime_error(message.toStdString()) {}

// --- extended floats -----------------------------------------------------------------------------

std::array<uint8_t, 10> DoubleToExtended(double value) {
  const auto bits = std::bit_cast<uint64_t>(value);
  const uint16_t sign = (bits >> 63) != 0 ? 0x8000 : 0;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  uint64_t mantissa = 0;
  int e = 0;
  if (exponent == 0x7FF) {
    e = 0x7FFF;
    mantissa = (uint64_t{1} << 63) | (fraction << 11);
  } else if (exponent == 0) {
    if (fraction != 0) {
      // Subnormal double: normal in the wider exponent range.
      const int top = 63 - std::countl_zero(fraction);
      e = top - 1074 + 16383;
      mantissa = fraction << (63 - top);
    }
  } else {
    e = exponent - 1023 + 16383;
    mantissa = (uint64_t{1} << 63) | (fraction << 11);
  }
  std::array<uint8_t, 10> out{};
  for (int i = 0; i < 8; ++i) out[static_cast<size_t>(i)] = static_cast<uint8_t>(mantissa >> (8 * i));
  const uint16_t se = static_cast<uint16_t>(sign | e);
  out[8] = static_cast<uint8_t>(se & 0xFF);
  out[9] = static_cast<uint8_t>(se >> 8);
  return out;
}

double ExtendedToDouble(const uint8_t* bytes) {
  uint64_t mantissa = 0;
  for (int i = 0; i < 8; ++i) mantissa |= uint64_t{bytes[i]} << (8 * i);
  const uint16_t se = static_cast<uint16_t>(bytes[8] | (bytes[9] << 8));
  const uint64_t sign = (se & 0x8000) != 0 ? uint64_t{1} << 63 : 0;
  const int e = se & 0x7FFF;
  if (e == 0x7FFF) {
    if ((mantissa << 1) == 0) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
    return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52) | (uint64_t{1} << 51) |
                                 ((mantissa << 1) >> 12));
  }
  if (mantissa == 0) return std::bit_cast<double>(sign);
  // value = mantissa * 2^(exp - 63); denormal and unnormal forms are normalised first.
  int exp = (e == 0 ? 1 : e) - 16383;
  const int lead = std::countl_zero(mantissa);
  mantissa <<= lead;
  exp -= lead;
  if (exp > 1023) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
  // Keep 53 bits (fewer for a subnormal result) and round the rest to nearest, ties to even.
  int shift = 11;
  if (exp < -1022) shift += -1022 - exp;
  if (shift > 64) return std::bit_cast<double>(sign);
  uint64_t kept = shift == 64 ? 0 : mantissa >> shift;
  const uint64_t rest = shift == 64 ? mantissa : mantissa & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  if (rest > half || (rest == half && (kept & 1) != 0)) ++kept;
  if (exp >= -1022) {
    if (kept == (uint64_t{1} << 53)) {
      kept >>= 1;
      ++exp;
      if (exp > 1023) return std::bit_cast<double>(sign | (uint64_t{0x7FF} << 52));
    }
    return std::bit_cast<double>(sign | (static_cast<uint64_t>(exp + 1023) << 52) |
                                 (kept & ((uint64_t{1} << 52) - 1)));
  }
  // Subnormal: a carry into bit 52 gives the smallest normal, which the same encoding expresses.
  return std::bit_cast<double>(sign | kept);
}

// --- colour and charset names --------------------------------------------------------------------

namespace {

struct TIdentValue {
  const char* Ident;
  qint64 Value;
};

constexpr qint64 kSys = 0x80000000LL;
const TIdentValue kColours[] = {
    {"clBlack", 0x000000},          {"clMaroon", 0x000080},
    {"clGreen", 0x008000},          {"clOlive", 0x008080},
    {"clNavy", 0x800000},           {"clPurple", 0x800080},
    {"clTeal", 0x808000},           {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},         {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},           {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},           {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},           {"clWhite", 0xFFFFFF},
    {"clScrollBar", kSys + 0},      {"clBackground", kSys + 1},
    {"clActiveCaption", kSys + 2},  {"clInactiveCaption", kSys + 3},
    {"clMenu", kSys + 4},           {"clWindow", kSys + 5},
    {"clWindowFrame", kSys + 6},    {"clMenuText", kSys + 7},
    {"clWindowText", kSys + 8},     {"clCaptionText", kSys + 9},
    {"clActiveBorder", kSys + 10},  {"clInactiveBorder", kSys + 11},
    {"clAppWorkSpace", kSys + 12},  {"clHighlight", kSys + 13},
    {"clHighlightText", kSys + 14}, {"clBtnFace", kSys + 15},
    {"clBtnShadow", kSys + 16},     {"clGrayText", kSys + 17},
    {"clBtnText", kSys + 18},       {"clInactiveCaptionText", kSys + 19},
    {"clBtnHighlight", kSys + 20},  {"cl3DDkShadow", kSys + 21},
    {"cl3DLight", kSys + 22},       {"clInfoText", kSys + 23},
    {"clInfoBk", kSys + 24},        {"clNone", 0x1FFFFFFF},
};

const TIdentValue kCharsets[] = {
    {"ANSI_CHARSET", 0},          {"DEFAULT_CHARSET", 1},   {"SYMBOL_CHARSET", 2},    {"MAC_CHARSET", 77},
    {"SHIFTJIS_CHARSET", 128},    {"HANGEUL_CHARSET", 129}, {"JOHAB_CHARSET", 130},   {"GB2312_CHARSET", 134},
    {"CHINESEBIG5_CHARSET", 136}, {"GREEK_CHARSET", 161},   {"TURKISH_CHARSET", 162}, {"HEBREW_CHARSET", 177},
    {"ARABIC_CHARSET", 178},      {"BALTIC_CHARSET", 186},  {"RUSSIAN_CHARSET", 204}, {"THAI_CHARSET", 222},
    {"EASTEUROPE_CHARSET", 238},  {"OEM_CHARSET", 255},
};

// Integers are 32-bit in the format; colours above 0x7FFFFFFF travel as negative numbers.
qint64 AsInt32(qint64 v) {
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

template <size_t N>
bool ToIdent(const TIdentValue (&table)[N], qint64 value, QString* ident) {
  for (const TIdentValue& e : table)
    if (AsInt32(e.Value) == AsInt32(value)) {
      if (ident != nullptr) *ident = QString::fromLatin1(e.Ident);
      return true;
    }
  return false;
}

template <size_t N>
bool FromIdent(const TIdentValue (&table)[N], const QString& ident, qint64* value) {
  for (const TIdentValue& e : table)
    if (ident.compare(QLatin1String(e.Ident), Qt::CaseInsensitive) == 0) {
      if (value != nullptr) *value = AsInt32(e.Value);
      return true;
    }
  return false;
}

}  // namespace

bool ColorToIdent(qint64 colour, QString* ident) {
  return ToIdent(kColours, colour, ident);
}
bool IdentToColor(const QString& ident, qint64* colour) {
  return FromIdent(kColours, ident, colour);
}
bool CharsetToIdent(qint64 charset, QString* ident) {
  return ToIdent(kCharsets, charset, ident);
}
bool IdentToCharset(const QString& ident, qint64* charset) {
  return FromIdent(kCharsets, ident, charset);
}

// --- writer --------------------------------------------------------------------------------------

namespace {

bool IsAscii(const QString& text) {
  for (QChar c : text)
    if (c.unicode() >= 0x80) return false;
  return true;
}

// Plain ASCII text is most of a stream (histories); it skips the code page table.
QByteArray Encode(const QString& text) {
  return IsAscii(text) ? text.toLatin1() : ToCp1251(text);
}

class TWriter {
 public:
  QByteArray Bytes;

  // Appends text in code page 1251 after a length prefix of `prefixBytes` (1 or 4 bytes).
  void Text(const QString& text, int prefixBytes, uint8_t tag) {
    if (!IsAscii(text)) {
      const QByteArray b = ToCp1251(text);
      if (tag != 0) Byte(tag);
      Le(static_cast<uint64_t>(b.size()), prefixBytes);
      Bytes.append(b);
      return;
    }
    const qsizetype n = text.size();
    if (tag != 0) Byte(tag);
    Le(static_cast<uint64_t>(n), prefixBytes);
    const qsizetype at = Bytes.size();
    Bytes.resize(at + n);
    char* out = Bytes.data() + at;
    const QChar* in = text.constData();
    for (qsizetype i = 0; i < n; ++i) out[i] = static_cast<char>(in[i].unicode());
  }

  void Byte(uint8_t b) { Bytes.append(static_cast<char>(b)); }
  void Raw(const void* p, int n) { Bytes.append(static_cast<const char*>(p), n); }
  void Le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) Byte(static_cast<uint8_t>(v >> (8 * i)));
  }

  void ShortString(const QString& text, const char* what) {
    const QByteArray b = Encode(text);
    if (b.size() > 255)
      throw EStreamError(
          QStringLiteral("%1 longer than 255 bytes: %2").arg(QLatin1String(what), text.left(40)));
    Byte(static_cast<uint8_t>(b.size()));
    Bytes.append(b);
  }

  void Integer(qint64 value) {
    const qint64 v = AsInt32(value);
    if (v >= -128 && v <= 127) {
      Byte(vaInt8);
      Le(static_cast<uint64_t>(v), 1);
    } else if (v >= -32768 && v <= 32767) {
      Byte(vaInt16);
      Le(static_cast<uint64_t>(v), 2);
    } else {
      Byte(vaInt32);
      Le(static_cast<uint64_t>(v), 4);
    }
  }

  void Ident(const QString& ident) {
    Byte(vaIdent);
    ShortString(ident, "identifier");
  }

  void String(const QString& text) {
    // Every character is one byte in code page 1251, so the length is known before encoding.
    if (text.size() <= 255)
      Text(text, 1, vaString);
    else
      Text(text, 4, vaLString);
  }

  // A text given in UTF-8; plain ASCII goes straight through.
  void Utf8String(QByteArrayView utf8) {
    if (!IsAsciiBytes(utf8)) {
      String(QString::fromUtf8(utf8));
      return;
    }
    const bool isLong = utf8.size() > 255;
    Byte(isLong ? vaLString : vaString);
    Le(static_cast<uint64_t>(utf8.size()), isLong ? 4 : 1);
    Bytes.append(utf8.data(), utf8.size());
  }

  void Float(double v) {
    Byte(vaExtended);
    const auto ext = DoubleToExtended(v);
    Raw(ext.data(), 10);
  }

  void Properties(const TPersistent& object, const QString& prefix);
  void Property(const TPersistent& object, const TPropInfo& p, const QString& path);
};

void TWriter::Properties(const TPersistent& object, const QString& prefix) {
  for (const TPropInfo* p : object.ClassInfo().Properties())
    if (!p->ReadOnly()) Property(object, *p, prefix + p->Name);
}

void TWriter::Property(const TPersistent& object, const TPropInfo& p, const QString& path) {
  auto differs = [&p](qint64 v) { return !p.Default || AsInt32(*p.Default) != AsInt32(v); };
  auto name = [&] { ShortString(path, "property name"); };
  switch (p.Kind) {
    case TPropKind::Integer: {
      const qint64 v = p.Get(object).toLongLong();
      if (!differs(v)) return;
      name();
      Integer(v);
      return;
    }
    case TPropKind::Colour:
    case TPropKind::Charset: {
      const qint64 v = p.Get(object).toLongLong();
      if (!differs(v)) return;
      name();
      QString ident;
      if (p.Kind == TPropKind::Colour ? ColorToIdent(v, &ident) : CharsetToIdent(v, &ident))
        Ident(ident);
      else
        Integer(v);
      return;
    }
    case TPropKind::Enumeration: {
      const int v = p.Get(object).toInt();
      if (!differs(v)) return;
      if (v < 0 || v >= p.Names.size())
        throw EStreamError(QStringLiteral("%1 has no identifier for %2").arg(path).arg(v));
      name();
      Ident(p.Names.at(v));
      return;
    }
    case TPropKind::Boolean: {
      const bool v = p.Get(object).toBool();
      if (!differs(v ? 1 : 0)) return;
      name();
      Byte(v ? vaTrue : vaFalse);
      return;
    }
    case TPropKind::Float:
    case TPropKind::DateTime: {
      const double v = p.Get(object).toDouble();
      if (v == 0) return;
      name();
      Float(v);
      return;
    }
    case TPropKind::String: {
      const QString v = p.Get(object).toString();
      if (v.isEmpty()) return;
      name();
      String(v);
      return;
    }
    case TPropKind::StringList: {
      // Histories come as a TTextList and are written from its bytes; other lists as QStringList.
      const QVariant value = p.Get(object);
      const bool compact = value.metaType() == QMetaType::fromType<TTextList>();
      const TTextList lines = compact ? value.value<TTextList>() : TTextList();
      const QStringList strings = compact ? QStringList() : value.toStringList();
      if (lines.isEmpty() && strings.isEmpty()) return;
      ShortString(path + QStringLiteral(".Strings"), "property name");
      Byte(vaList);
      for (qsizetype i = 0; i < lines.size(); ++i) Utf8String(lines.Utf8At(i));
      for (const QString& line : strings) String(line);
      Byte(vaNull);
      return;
    }
    case TPropKind::Set: {
      const quint32 v = static_cast<quint32>(p.Get(object).toULongLong());
      if (!differs(static_cast<qint64>(v))) return;
      name();
      Byte(vaSet);
      for (int i = 0; i < p.Names.size() && i < 32; ++i)
        if ((v & (1u << i)) != 0) ShortString(p.Names.at(i), "set element");
      Byte(0);
      return;
    }
    case TPropKind::Reference: {
      // Empty references and view links (an invalid variant) are not stored.
      const QVariant v = p.Get(object);
      if (!v.isValid() || v.toString().isEmpty()) return;
      name();
      Ident(v.toString());
      return;
    }
    case TPropKind::Object: {
      if (!p.Nested) return;
      const TPersistent* nested = p.Nested(const_cast<TPersistent&>(object));
      if (nested != nullptr) Properties(*nested, path + QLatin1Char('.'));
      return;
    }
  }
}

// Marks a component with streaming flags for a scope.
class TStateScope {
 public:
  TStateScope(TComponent& c, unsigned flags) : c_(c), flags_(flags & ~c.ComponentState()) {
    c_.SetState(flags_);
  }
  ~TStateScope() { c_.ClearState(flags_); }
  TStateScope(const TStateScope&) = delete;
  TStateScope& operator=(const TStateScope&) = delete;

 private:
  TComponent& c_;
  unsigned flags_;
};

}  // namespace

QByteArray WriteComponent(TComponent& component) {
  TStateScope writing(component, csWriting);
  TWriter w;
  w.Raw("TPF0", 4);
  w.ShortString(component.ClassName(), "class name");
  w.ShortString(component.Name(), "component name");
  w.Properties(component, QString());
  w.Byte(vaNull);  // end of the properties
  w.Byte(vaNull);  // end of the (empty) child list
  return w.Bytes;
}

// --- parser --------------------------------------------------------------------------------------

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

  // The leading run of text elements of a list, straight into `lines`; stops before any other tag.
  void Lines(TTextList& lines) {
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
    lines.Reserve(count, bytes);
    for (;;) {
      if (size_ - pos_ < 1 || (p_[pos_] != vaString && p_[pos_] != vaLString)) return;
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
        v.Int = static_cast<int8_t>(Le(1));
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
        Lines(v.Lines);
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

QString StreamValueText(const TStreamValue& v) {
  auto quoted = [](QString t) {
    return QLatin1Char('\'') + t.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
  };
  switch (v.Tag) {
    case vaInt8:
    case vaInt16:
    case vaInt32:
      return QString::number(v.Int);
    case vaExtended:
      return QString::number(v.Float, 'g', QLocale::FloatingPointShortest);
    case vaString:
    case vaLString:
      return quoted(v.Text);
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
      for (qsizetype i = 0; i < v.Lines.size(); ++i) items << quoted(v.Lines.at(i));
      for (const TStreamValue& e : v.List) items << StreamValueText(e);
      return QLatin1Char('(') + items.join(QLatin1String(", ")) + QLatin1Char(')');
    }
    case vaNull:
      break;
  }
  return QString();
}

// --- reader --------------------------------------------------------------------------------------

namespace {

[[noreturn]] void WrongKind(const QString& path, const TStreamValue& v) {
  throw EStreamError(QStringLiteral("Property %1 cannot take the value %2 (tag 0x%3)")
                         .arg(path, StreamValueText(v).left(40))
                         .arg(static_cast<int>(v.Tag), 2, 16, QLatin1Char('0')));
}

bool IsInteger(const TStreamValue& v) {
  return v.Tag == vaInt8 || v.Tag == vaInt16 || v.Tag == vaInt32;
}
bool IsText(const TStreamValue& v) {
  return v.Tag == vaString || v.Tag == vaLString;
}

QVariant Decode(const TPropInfo& p, const TStreamValue& v, const QString& path) {
  switch (p.Kind) {
    case TPropKind::Integer:
      if (!IsInteger(v)) WrongKind(path, v);
      return QVariant::fromValue(static_cast<int>(v.Int));
    case TPropKind::Colour:
    case TPropKind::Charset: {
      if (IsInteger(v)) return QVariant::fromValue(static_cast<int>(v.Int));
      qint64 value = 0;
      const bool known = v.Tag == vaIdent && (p.Kind == TPropKind::Colour ? IdentToColor(v.Text, &value)
                                                                          : IdentToCharset(v.Text, &value));
      if (!known) WrongKind(path, v);
      return QVariant::fromValue(static_cast<int>(value));
    }
    case TPropKind::Enumeration:
      if (v.Tag == vaIdent)
        for (int i = 0; i < p.Names.size(); ++i)
          if (p.Names.at(i).compare(v.Text, Qt::CaseInsensitive) == 0) return QVariant(i);
      WrongKind(path, v);
    case TPropKind::Boolean:
      if (v.Tag != vaFalse && v.Tag != vaTrue) WrongKind(path, v);
      return QVariant(v.Tag == vaTrue);
    case TPropKind::Float:
    case TPropKind::DateTime:
      if (v.Tag == vaExtended) return QVariant(v.Float);
      if (IsInteger(v)) return QVariant(static_cast<double>(v.Int));
      WrongKind(path, v);
    case TPropKind::String:
      if (!IsText(v)) WrongKind(path, v);
      return QVariant(v.Text);
    case TPropKind::StringList: {
      if (v.Tag != vaList) WrongKind(path, v);
      for (const TStreamValue& e : v.List)
        if (!IsText(e)) WrongKind(path, e);
      // A list of texts holds them all in Lines; a QStringList setter gets them converted (the
      // conversion is registered with the class that keeps its lists compactly).
      return QVariant::fromValue(v.Lines);
    }
    case TPropKind::Set: {
      if (v.Tag != vaSet) WrongKind(path, v);
      quint32 mask = 0;
      for (const QString& item : v.Items) {
        int bit = -1;
        for (int i = 0; i < p.Names.size() && i < 32; ++i)
          if (p.Names.at(i).compare(item, Qt::CaseInsensitive) == 0) bit = i;
        if (bit < 0) throw EStreamError(QStringLiteral("Property %1 has no element %2").arg(path, item));
        mask |= 1u << bit;
      }
      return QVariant::fromValue(mask);
    }
    case TPropKind::Reference:
      if (v.Tag == vaNil) return QVariant();
      if (v.Tag != vaIdent) WrongKind(path, v);
      return QVariant(v.Text);
    case TPropKind::Object:
      WrongKind(path, v);
  }
  WrongKind(path, v);
}

// Finds the property a dotted path names, following nested objects; the ".Strings" of a string
// list names the list itself.
void Assign(TPersistent& object, const QString& path, const TStreamValue& value) {
  TPersistent* target = &object;
  QString rest = path;
  for (;;) {
    const qsizetype dot = rest.indexOf(QLatin1Char('.'));
    const QString head = dot < 0 ? rest : rest.left(dot);
    const TPropInfo* p = target->ClassInfo().FindProperty(head);
    if (p == nullptr || p->ReadOnly())
      throw EStreamError(QStringLiteral("Class %1 has no stored property %2").arg(target->ClassName(), path));
    if (dot < 0) {
      if (p->Kind == TPropKind::StringList) WrongKind(path, value);
      p->Set(*target, Decode(*p, value, path));
      return;
    }
    rest = rest.mid(dot + 1);
    if (p->Kind == TPropKind::StringList && rest == QLatin1String("Strings")) {
      p->Set(*target, Decode(*p, value, path));
      return;
    }
    if (p->Kind != TPropKind::Object || !p->Nested || p->Nested(*target) == nullptr)
      throw EStreamError(QStringLiteral("Class %1 has no stored property %2").arg(target->ClassName(), path));
    target = p->Nested(*target);
  }
}

}  // namespace

std::unique_ptr<TComponent> ReadComponent(const QByteArray& bytes) {
  const TParsedStream s = ParseComponentStream(bytes);
  const TClassInfo* info = FindPersistentClass(s.ClassName);
  if (info == nullptr || !info->Create)
    throw EStreamError(QStringLiteral("Unknown class %1 in a component stream").arg(s.ClassName));
  std::unique_ptr<TComponent> object(info->Create(nullptr));
  object->SetState(csLoading | csReading);
  object->SetName(s.Name);
  for (const TStreamRecord& r : s.Records) Assign(*object, r.Name, r.Value);
  object->Loaded();
  object->ClearState(csLoading | csReading);
  return object;
}

// --- TStrHandler ---------------------------------------------------------------------------------

std::unique_ptr<TStrHandler> TStrHandler::Create(const QString& name, TStgHandler* storage) {
  std::unique_ptr<TStrHandler> h(new TStrHandler);
  CompoundStorage* s = storage != nullptr && storage->Valid() ? storage->Storage() : nullptr;
  try {
    if (s != nullptr)
      h->stream_ = storage->StreamNames().contains(name) && s->HasStream(name) ? &s->Stream(name)
                                                                               : &s->CreateStream(name);
  } catch (const ECompoundFileError&) {
    h->stream_ = nullptr;
  }
  if (h->stream_ == nullptr) h->error_ = QStringLiteral("Не могу открыть поток: '%1'!").arg(name);
  return h;
}

std::unique_ptr<TStrHandler> TStrHandler::Open(const QString& name, TStgHandler* storage) {
  std::unique_ptr<TStrHandler> h(new TStrHandler);
  CompoundStorage* s = storage != nullptr && storage->Valid() ? storage->Storage() : nullptr;
  if (s != nullptr && s->HasStream(name)) h->stream_ = &s->Stream(name);
  if (h->stream_ == nullptr) h->error_ = QStringLiteral("Не могу открыть поток: '%1'!").arg(name);
  return h;
}

void TStrHandler::SaveComponent(TComponent& component) {
  if (!Valid()) return;
  const QByteArray bytes = WriteComponent(component);
  if (stream_->size() <= bytes.size())
    *stream_ = bytes;
  else
    stream_->replace(0, bytes.size(), bytes);
}

void TStrHandler::LoadComponent(std::unique_ptr<TComponent>& target) {
  if (!Valid()) return;
  target = ReadComponent(*stream_);
}

}  // namespace vexa
