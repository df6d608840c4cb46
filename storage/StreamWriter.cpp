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

bool IsAscii(const QString& text) {
  for (QChar c : text)
    if (c.unicode() >= 0x80) return false;
  return true;
}

// Plain ASCII text is most of a stream (histories); it skips the code page table.
QByteArray Encode(const QString& text) {
  return IsAscii(text) ? text.toLatin1() : ToCp1251(text);
}

// Writes over a buffer from its start. Bytes of the buffer past the last one written stay: a
// stream written over a longer one keeps its tail, as in the format's own writers.
class TWriter {
 public:
  explicit TWriter(QByteArray& out) : out_(out) {}

  // Appends text in code page 1251 after a length prefix of `prefixBytes` (1 or 4 bytes).
  void Text(const QString& text, int prefixBytes, uint8_t tag) {
    if (!IsAscii(text)) {
      const QByteArray b = ToCp1251(text);
      if (tag != 0) Byte(tag);
      Le(static_cast<uint64_t>(b.size()), prefixBytes);
      Raw(b.constData(), b.size());
      return;
    }
    const qsizetype n = text.size();
    if (tag != 0) Byte(tag);
    Le(static_cast<uint64_t>(n), prefixBytes);
    char* out = Room(n);
    const QChar* in = text.constData();
    for (qsizetype i = 0; i < n; ++i) out[i] = static_cast<char>(in[i].unicode());
  }

  void Byte(uint8_t b) { *Room(1) = static_cast<char>(b); }
  void Raw(const void* p, qsizetype n) {
    if (n > 0) std::memcpy(Room(n), p, static_cast<size_t>(n));
  }
  void Le(uint64_t v, int n) {
    char* out = Room(n);
    for (int i = 0; i < n; ++i) out[i] = static_cast<char>(v >> (8 * i));
  }

  void ShortString(const QString& text, const char* what) {
    const QByteArray b = Encode(text);
    if (b.size() > 255)
      throw EStreamError(
          QStringLiteral("%1 longer than 255 bytes: %2").arg(QLatin1String(what), text.left(40)));
    Byte(static_cast<uint8_t>(b.size()));
    Raw(b.constData(), b.size());
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
    Raw(utf8.data(), utf8.size());
  }

  // The elements of a text list. A list of plain ASCII (every history) is sized first and then
  // copied entry by entry into its place.
  void Lines(const TTextList& lines) {
    if (!IsAsciiBytes(lines.Utf8Text())) {
      for (qsizetype i = 0; i < lines.size(); ++i) Utf8String(lines.Utf8At(i));
      return;
    }
    qsizetype total = lines.Utf8Text().size();
    for (qsizetype i = 0; i < lines.size(); ++i) total += lines.Utf8At(i).size() > 255 ? 5 : 2;
    auto* out = reinterpret_cast<uint8_t*>(Room(total));
    for (qsizetype i = 0; i < lines.size(); ++i) {
      const QByteArrayView text = lines.Utf8At(i);
      const auto n = static_cast<uint32_t>(text.size());
      if (n > 255) {
        *out++ = vaLString;
        for (int k = 0; k < 4; ++k) *out++ = static_cast<uint8_t>(n >> (8 * k));
      } else {
        *out++ = vaString;
        *out++ = static_cast<uint8_t>(n);
      }
      if (n > 0) std::memcpy(out, text.data(), n);
      out += n;
    }
  }

  void Float(double v) {
    Byte(vaExtended);
    const auto ext = DoubleToExtended(v);
    Raw(ext.data(), 10);
  }

  void Value(const TStreamValue& v);
  void Properties(const TPersistent& object, const QString& prefix);
  void Property(const TPersistent& object, const TPropInfo& p, const QString& path);

 private:
  // The next n bytes to write, the buffer grown when they reach past its end.
  char* Room(qsizetype n) {
    const qsizetype at = pos_;
    pos_ += n;
    if (pos_ > out_.size()) out_.resize(pos_);
    return out_.data() + at;
  }

  QByteArray& out_;
  qsizetype pos_ = 0;
};

void TWriter::Value(const TStreamValue& v) {
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
      Lines(lines);
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

}  // namespace

void WriteComponentOver(TComponent& component, QByteArray& stream) {
  // Only the flag this call set is cleared again: a nested write leaves the outer one's mark.
  const unsigned flags = csWriting & ~component.ComponentState();
  component.SetState(flags);
  const auto clear = qScopeGuard([&] { component.ClearState(flags); });
  TWriter w(stream);
  w.Raw("TPF0", 4);
  w.ShortString(component.ClassName(), "class name");
  w.ShortString(component.Name(), "component name");
  w.Properties(component, QString());
  w.Byte(vaNull);  // end of the properties
  w.Byte(vaNull);  // end of the (empty) child list
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
  TWriter w(bytes);
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
