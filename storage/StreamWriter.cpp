#include "storage/StreamWriter.h"

#include <QScopeGuard>
#include <QVariant>
#include <cstring>

#include "core/Services.h"
#include "core/TextList.h"
#include "storage/StreamExtended.h"
#include "storage/StreamIdents.h"

namespace vexa {

namespace {

// How a writer puts its bytes: counting them only (a save lays its file out before it makes the
// streams), over a buffer that grows as needed, or into room of a size known beforehand.
enum class TOut { Count, Grow, Fixed };

// Writes over a buffer from its start. Bytes of the buffer past the last one written stay: a
// stream written over a longer one keeps its tail, as in the format's own writers.
template <TOut kOut>
class TWriter {
  static constexpr bool kCount = kOut == TOut::Count;

 public:
  TWriter() requires(kOut == TOut::Count) = default;
  explicit TWriter(QByteArray& out) requires(kOut == TOut::Grow) : out_(&out) {}
  TWriter(char* room, qsizetype size) requires(kOut == TOut::Fixed) : room_(room), size_(size) {}

  qsizetype Written() const { return pos_; }

  // Appends text in code page 1251 after a length prefix of `prefixBytes` (1 or 4 bytes); every
  // character is one byte there.
  void Text(const QString& text, int prefixBytes, uint8_t tag) {
    const qsizetype n = text.size();
    if (tag != 0) Byte(tag);
    Le(static_cast<uint64_t>(n), prefixBytes);
    if constexpr (kCount) {
      pos_ += n;
    } else {
      // Plain ASCII (names, numbers) goes as it is, told apart while it is copied.
      char* out = Room(n);
      const QChar* in = text.constData();
      char16_t any = 0;
      for (qsizetype i = 0; i < n; ++i) {
        any |= in[i].unicode();
        out[i] = static_cast<char>(in[i].unicode());
      }
      if (any >= 0x80)
        for (qsizetype i = 0; i < n; ++i) out[i] = ToCp1251Byte(in[i].unicode());
    }
  }

  void Byte(uint8_t b) {
    if constexpr (kCount)
      ++pos_;
    else
      *Room(1) = static_cast<char>(b);
  }
  void Raw(const void* p, qsizetype n) {
    if constexpr (kCount)
      pos_ += n;
    else if (n > 0)
      std::memcpy(Room(n), p, static_cast<size_t>(n));
  }
  void Le(uint64_t v, int n) {
    if constexpr (kCount) {
      pos_ += n;
    } else {
      char* out = Room(n);
      for (int i = 0; i < n; ++i) out[i] = static_cast<char>(v >> (8 * i));
    }
  }

  void ShortString(const QString& text, const char* what) {
    if (text.size() > 255)
      throw EStreamError(
          QStringLiteral("%1 longer than 255 bytes: %2").arg(QLatin1String(what), text.left(40)));
    Text(text, 1, 0);
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
    Raw(utf8.data(), utf8.size());
  }

  // The elements of a text list. A list of plain ASCII (every history) is sized first and then
  // copied entry by entry into its place.
  void Lines(const TTextList& lines) {
    if (!lines.KnownAscii()) {
      for (qsizetype i = 0; i < lines.size(); ++i) Utf8String(lines.Utf8At(i));
      return;
    }
    const QByteArrayView all = lines.Utf8Text();
    const qsizetype total = all.size() + 2 * lines.size() + 3 * lines.LongEntries();
    if constexpr (kCount) {
      pos_ += total;
    } else {
      auto* out = reinterpret_cast<uint8_t*>(Room(total));
      const uint8_t* const outEnd = out + total;
      const char* const textEnd = all.data() + all.size();
      // Entries are short (a time, a value): a copy of a fixed 32 bytes, where both sides have
      // them, is a pair of moves; the bytes past the entry are written over by the next one.
      constexpr qsizetype kCopy = 32;
      lines.ForEachUtf8([&](QByteArrayView text) {
        const auto n = static_cast<uint32_t>(text.size());
        if (n > 255) {
          *out++ = vaLString;
          for (int k = 0; k < 4; ++k) *out++ = static_cast<uint8_t>(n >> (8 * k));
        } else {
          *out++ = vaString;
          *out++ = static_cast<uint8_t>(n);
        }
        if (n <= kCopy && textEnd - text.data() >= kCopy && outEnd - out >= kCopy)
          std::memcpy(out, text.data(), kCopy);
        else if (n > 0)
          std::memcpy(out, text.data(), n);
        out += n;
      });
    }
  }

  void Float(double v) {
    Byte(vaExtended);
    if constexpr (kCount) {
      pos_ += 10;
    } else {
      const auto ext = DoubleToExtended(v);
      Raw(ext.data(), 10);
    }
  }

  void Value(const TStreamValue& v);
  void Properties(const TPersistent& object, const QString& prefix);
  void Property(const TPersistent& object, const TPropInfo& p, const QString& path);
  void Component(TComponent& component);

 private:
  // The next n bytes to write, the buffer grown when they reach past its end.
  char* Room(qsizetype n) {
    const qsizetype at = pos_;
    pos_ += n;
    if constexpr (kOut == TOut::Fixed) {
      if (pos_ > size_) throw EStreamError(QStringLiteral("The object's stream outgrew its measured length"));
      return room_ + at;
    } else {
      if (pos_ > out_->size()) out_->resize(pos_);
      return out_->data() + at;
    }
  }

  QByteArray* out_ = nullptr;
  char* room_ = nullptr;
  qsizetype size_ = 0;
  qsizetype pos_ = 0;
};

template <TOut kOut>
void TWriter<kOut>::Value(const TStreamValue& v) {
  switch (v.Tag) {
    case vaInt8:
    case vaInt16:
    case vaInt32:
      Integer(v.Int);
      return;
    case vaExtended:
      Float(v.Float);
      return;
    case vaString:
    case vaLString:
      String(v.Text);
      return;
    case vaIdent:
      Ident(v.Text);
      return;
    case vaFalse:
    case vaTrue:
    case vaNil:
      Byte(v.Tag);
      return;
    case vaSet:
      Byte(vaSet);
      for (const QString& item : v.Items) ShortString(item, "set element");
      Byte(0);
      return;
    case vaList:
      Byte(vaList);
      Lines(v.Lines);
      for (const TStreamValue& e : v.List) Value(e);
      Byte(vaNull);
      return;
    case vaNull:
      break;
  }
  throw EStreamError(QStringLiteral("A value without a tag cannot be written"));
}

// A property's value as the getters give it, read straight from the variant; another type is
// converted as the variant converts it.
qint64 IntegerOf(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::Int:
      return *static_cast<const int*>(v.constData());
    case QMetaType::UInt:
      return *static_cast<const uint*>(v.constData());
    case QMetaType::LongLong:
      return *static_cast<const qlonglong*>(v.constData());
    case QMetaType::Bool:
      return *static_cast<const bool*>(v.constData()) ? 1 : 0;
    default:
      return v.toLongLong();
  }
}

bool BooleanOf(const QVariant& v) {
  return v.typeId() == QMetaType::Bool ? *static_cast<const bool*>(v.constData()) : v.toBool();
}

double FloatOf(const QVariant& v) {
  return v.typeId() == QMetaType::Double ? *static_cast<const double*>(v.constData()) : v.toDouble();
}

// A property's value through its typed getter when it has one, else through its variant.
qint64 IntegerOf(const TPropInfo& p, const TPersistent& object) {
  return p.GetInteger ? p.GetInteger(object) : IntegerOf(p.Get(object));
}

template <TOut kOut>
void TWriter<kOut>::Properties(const TPersistent& object, const QString& prefix) {
  for (const TPropInfo* p : object.ClassInfo().Properties()) {
    if (p->ReadOnly()) continue;
    if (prefix.isEmpty())
      Property(object, *p, p->Name);
    else
      Property(object, *p, prefix + p->Name);
  }
}

template <TOut kOut>
void TWriter<kOut>::Property(const TPersistent& object, const TPropInfo& p, const QString& path) {
  auto differs = [&p](qint64 v) { return !p.Default || AsInt32(*p.Default) != AsInt32(v); };
  auto name = [&] { ShortString(path, "property name"); };
  switch (p.Kind) {
    case TPropKind::Integer: {
      const qint64 v = IntegerOf(p, object);
      if (!differs(v)) return;
      name();
      Integer(v);
      return;
    }
    case TPropKind::Colour:
    case TPropKind::Charset: {
      const qint64 v = IntegerOf(p, object);
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
      const int v = static_cast<int>(IntegerOf(p, object));
      if (!differs(v)) return;
      if (v < 0 || v >= p.Names.size())
        throw EStreamError(QStringLiteral("%1 has no identifier for %2").arg(path).arg(v));
      name();
      Ident(p.Names.at(v));
      return;
    }
    case TPropKind::Boolean: {
      const bool v = p.GetInteger ? p.GetInteger(object) != 0 : BooleanOf(p.Get(object));
      if (!differs(v ? 1 : 0)) return;
      name();
      Byte(v ? vaTrue : vaFalse);
      return;
    }
    case TPropKind::Float:
    case TPropKind::DateTime: {
      const double v = p.GetFloat ? p.GetFloat(object) : FloatOf(p.Get(object));
      if (v == 0) return;
      name();
      Float(v);
      return;
    }
    case TPropKind::String: {
      QString held;
      const QString* v = p.GetText ? p.GetText(object) : nullptr;
      if (v == nullptr) {
        held = p.Get(object).toString();
        v = &held;
      }
      if (v->isEmpty()) return;
      name();
      String(*v);
      return;
    }
    case TPropKind::StringList: {
      // Histories come as a TTextList and are written from its bytes; other lists as QStringList.
      if (p.GetLines) {
        const TTextList& lines = *p.GetLines(object);
        if (lines.isEmpty()) return;
        ShortString(path + QStringLiteral(".Strings"), "property name");
        Byte(vaList);
        Lines(lines);
        Byte(vaNull);
        return;
      }
      const QVariant value = p.Get(object);
      const bool compact = value.metaType() == QMetaType::fromType<TTextList>();
      const TTextList lines = compact ? value.value<TTextList>() : TTextList();
      const QStringList strings = compact ? QStringList() : value.toStringList();
      if (lines.isEmpty() && strings.isEmpty()) return;
      ShortString(path + QStringLiteral(".Strings"), "property name");
      Byte(vaList);
      Lines(lines);
      for (const QString& line : strings) String(line);
      Byte(vaNull);
      return;
    }
    case TPropKind::Set: {
      const quint32 v = static_cast<quint32>(IntegerOf(p, object));
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

// The stream of one object. Marks it as being written meanwhile; only the flag this call set is
// cleared again, so a nested write leaves the outer one's mark.
template <TOut kOut>
void TWriter<kOut>::Component(TComponent& component) {
  const unsigned flags = csWriting & ~component.ComponentState();
  component.SetState(flags);
  const auto clear = qScopeGuard([&] { component.ClearState(flags); });
  Raw("TPF0", 4);
  ShortString(component.ClassName(), "class name");
  ShortString(component.Name(), "component name");
  Properties(component, QString());
  Byte(vaNull);  // end of the properties
  Byte(vaNull);  // end of the (empty) child list
}

}  // namespace

qsizetype WriteComponentInto(TComponent& component, QByteArray& buffer) {
  TWriter<TOut::Grow> w(buffer);
  w.Component(component);
  return w.Written();
}

qsizetype ComponentStreamSize(TComponent& component) {
  TWriter<TOut::Count> w;
  w.Component(component);
  return w.Written();
}

void WriteComponentTo(TComponent& component, char* room, qsizetype length) {
  TWriter<TOut::Fixed> w(room, length);
  w.Component(component);
  if (w.Written() != length)
    throw EStreamError(QStringLiteral("The object's stream fell short of its measured length"));
}

void WriteComponentOver(TComponent& component, QByteArray& stream) {
  WriteComponentInto(component, stream);
  // The stream keeps these bytes until the next save: without the room grown for appends, the
  // tree a save holds is the size of its file.
  stream.squeeze();
}

QByteArray WriteComponent(TComponent& component) {
  QByteArray bytes;
  WriteComponentOver(component, bytes);
  return bytes;
}

QByteArray WriteParsedStream(const TParsedStream& s) {
  QByteArray bytes;
  TWriter<TOut::Grow> w(bytes);
  w.Raw("TPF0", 4);
  auto blamed = [](EStreamRecordError::TPart part, int record, auto&& write) {
    try {
      write();
    } catch (const EStreamRecordError&) {
      throw;
    } catch (const EStreamError& e) {
      throw EStreamRecordError(e.Message(), part, record);
    }
  };
  blamed(EStreamRecordError::rpClassName, -1, [&] { w.ShortString(s.ClassName, "class name"); });
  blamed(EStreamRecordError::rpComponentName, -1, [&] { w.ShortString(s.Name, "component name"); });
  for (size_t i = 0; i < s.Records.size(); ++i) {
    const int record = static_cast<int>(i);
    blamed(EStreamRecordError::rpPropertyName, record,
           [&] { w.ShortString(s.Records[i].Name, "property name"); });
    blamed(EStreamRecordError::rpValue, record, [&] { w.Value(s.Records[i].Value); });
  }
  w.Byte(vaNull);
  w.Byte(vaNull);
  return bytes;
}

}  // namespace vexa
