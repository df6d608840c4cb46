#include "storage/StreamReader.h"

#include <QVariant>

#include "storage/PersistentClasses.h"
#include "storage/StreamIdents.h"
#include "storage/StreamParser.h"

namespace vexa {

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

}  // namespace vexa
