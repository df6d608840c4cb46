#include "storage/StreamReader.h"

#include <QDate>
#include <QVariant>
#include <cmath>
#include <limits>

#include "core/Services.h"
#include "storage/StreamIdents.h"
#include "storage/StreamParser.h"

namespace vexa {

namespace {

// What a property takes, for the message that refuses a value.
QString Expected(const TPropInfo& p) {
  switch (p.Kind) {
    case TPropKind::Integer:
      return QStringLiteral("an integer");
    case TPropKind::Colour:
      return QStringLiteral("a colour name or an integer");
    case TPropKind::Charset:
      return QStringLiteral("a character set name or an integer");
    case TPropKind::Enumeration:
      return QStringLiteral("one of %1").arg(p.Names.join(QLatin1String(", ")));
    case TPropKind::Boolean:
      return QStringLiteral("True or False");
    case TPropKind::Float:
    case TPropKind::DateTime:
      return QStringLiteral("a number");
    case TPropKind::String:
      return QStringLiteral("a string");
    case TPropKind::StringList:
      return QStringLiteral("a list of strings");
    case TPropKind::Set:
      return QStringLiteral("a set of %1").arg(p.Names.join(QLatin1String(", ")));
    case TPropKind::Reference:
      return QStringLiteral("a component name or nil");
    case TPropKind::Object:
      break;
  }
  return QStringLiteral("no value of its own");
}

[[noreturn]] void WrongKind(const TPropInfo& p, const QString& path, const TStreamValue& v) {
  throw EStreamRecordError(QStringLiteral("Property %1 cannot take the value %2 (tag 0x%3): it takes %4")
                               .arg(path, StreamValueText(v).left(40))
                               .arg(static_cast<int>(v.Tag), 2, 16, QLatin1Char('0'))
                               .arg(Expected(p)),
                           EStreamRecordError::rpValue);
}

[[noreturn]] void NoProperty(const TPersistent& target, const QString& path) {
  throw EStreamRecordError(QStringLiteral("Class %1 has no stored property %2").arg(target.ClassName(), path),
                           EStreamRecordError::rpPropertyName);
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
      if (!IsInteger(v)) WrongKind(p, path, v);
      return QVariant::fromValue(static_cast<int>(v.Int));
    case TPropKind::Colour:
    case TPropKind::Charset: {
      if (IsInteger(v)) return QVariant::fromValue(static_cast<int>(v.Int));
      qint64 value = 0;
      const bool known = v.Tag == vaIdent && (p.Kind == TPropKind::Colour ? IdentToColor(v.Text, &value)
                                                                          : IdentToCharset(v.Text, &value));
      if (!known) WrongKind(p, path, v);
      return QVariant::fromValue(static_cast<int>(value));
    }
    case TPropKind::Enumeration:
      // Names of other lengths never match, whatever their letter case: not compared at all.
      if (v.Tag == vaIdent)
        for (int i = 0; i < p.Names.size(); ++i)
          if (p.Names.at(i).size() == v.Text.size() &&
              p.Names.at(i).compare(v.Text, Qt::CaseInsensitive) == 0)
            return QVariant(i);
      WrongKind(p, path, v);
    case TPropKind::Boolean:
      if (v.Tag != vaFalse && v.Tag != vaTrue) WrongKind(p, path, v);
      return QVariant(v.Tag == vaTrue);
    case TPropKind::Float:
    case TPropKind::DateTime:
      if (v.Tag == vaExtended) return QVariant(v.Float);
      if (IsInteger(v)) return QVariant(static_cast<double>(v.Int));
      WrongKind(p, path, v);
    case TPropKind::String:
      if (!IsText(v)) WrongKind(p, path, v);
      return QVariant(v.Text);
    case TPropKind::StringList: {
      if (v.Tag != vaList) WrongKind(p, path, v);
      for (const TStreamValue& e : v.List)
        if (!IsText(e)) WrongKind(p, path, e);
      // A list of texts holds them all in Lines; a QStringList setter gets them converted (the
      // conversion is registered with the class that keeps its lists compactly).
      return QVariant::fromValue(v.Lines);
    }
    case TPropKind::Set: {
      if (v.Tag != vaSet) WrongKind(p, path, v);
      quint32 mask = 0;
      for (const QString& item : v.Items) {
        int bit = -1;
        for (int i = 0; i < p.Names.size() && i < 32; ++i)
          if (p.Names.at(i).compare(item, Qt::CaseInsensitive) == 0) bit = i;
        if (bit < 0)
          throw EStreamRecordError(QStringLiteral("Property %1 has no element %2").arg(path, item),
                                   EStreamRecordError::rpValue);
        mask |= 1u << bit;
      }
      return QVariant::fromValue(mask);
    }
    case TPropKind::Reference:
      if (v.Tag == vaNil) return QVariant();
      if (v.Tag != vaIdent) WrongKind(p, path, v);
      return QVariant(v.Text);
    case TPropKind::Object:
      WrongKind(p, path, v);
  }
  WrongKind(p, path, v);
}

// The object as a message names it: "D001C002R003 (TRegisterNode)".
QString ObjectText(const TComponent& object) {
  if (object.Name().isEmpty()) return QStringLiteral("an unnamed %1").arg(object.ClassName());
  return QStringLiteral("%1 (%2)").arg(object.Name(), object.ClassName());
}

[[noreturn]] void OutOfRange(const TComponent& object, const QString& path, const QString& value,
                             const QString& takes) {
  throw EStreamRecordError(
      QStringLiteral("%1: %2=%3 is out of range; it takes %4").arg(ObjectText(object), path, value, takes),
      EStreamRecordError::rpValue);
}

// A stored float as a message shows it: every digit it holds, NaN and Inf by name.
QString FloatText(double x) {
  if (std::isnan(x)) return QStringLiteral("NaN");
  if (std::isinf(x)) return x > 0 ? QStringLiteral("Inf") : QStringLiteral("-Inf");
  return QString::number(x, 'g', 17);
}

QString FloatTakes(const TPropInfo& p) {
  constexpr double kLowest = std::numeric_limits<double>::lowest();
  constexpr double kHighest = std::numeric_limits<double>::max();
  if (p.FloatMin == kLowest && p.FloatMax == kHighest) return QStringLiteral("a finite number");
  QString range = QStringLiteral("%1 to %2").arg(FloatText(p.FloatMin), FloatText(p.FloatMax));
  if (p.Kind != TPropKind::DateTime || p.FloatMin < kFirstStoredDay) return range;
  const auto day = [](double x) {
    return QDate(1899, 12, 30).addDays(static_cast<qint64>(std::floor(x))).toString(u"dd.MM.yyyy");
  };
  return QStringLiteral("%1 (dates %2 to %3)").arg(range, day(p.FloatMin), day(p.FloatMax));
}

// The usual form of a stored time, "07.12.2026 9:05:03" (day first, the time optional), read
// without a text: a history holds a thousand of them, most of one day. `day` is the day part of the
// last line found so, whose check a line of the same day skips. False for anything else, which the
// general reader then decides on.
bool IsPlainRealDate(QByteArrayView line, QByteArrayView& day) {
  const char* p = line.data();
  const char* const end = p + line.size();
  const auto number = [&](int fewest, int most, int* value) {
    int n = 0;
    *value = 0;
    while (p < end && *p >= '0' && *p <= '9' && n < most) {
      *value = *value * 10 + (*p++ - '0');
      ++n;
    }
    return n >= fewest;
  };
  const auto take = [&](char c) { return p < end && *p == c ? (++p, true) : false; };
  if (!day.isEmpty() && line.size() > day.size() && line.startsWith(day) && line[day.size()] == ' ') {
    p += day.size();
  } else {
    int d = 0, month = 0, year = 0;
    if (!number(1, 2, &d) || !take('.') || !number(1, 2, &month) || !take('.') || !number(4, 4, &year))
      return false;
    // The Gregorian month lengths at hand: a call into the calendar per entry costs a tenth of a load.
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1900 || month < 1 || month > 12 || d < 1 || d > kDays[month - 1] + (month == 2 && leap))
      return false;
    day = QByteArrayView(line.data(), p - line.data());
  }
  if (p == end) return true;
  // " H:MM", " HH:MM", with ":SS" or without, by position: this runs for every entry.
  const auto digit = [](char c) { return static_cast<unsigned char>(c - '0') <= 9; };
  const auto n = end - p;
  if (n < 5 || *p != ' ') return false;
  const int h = p[2] == ':' ? 1 : 2;  // the hour's digits
  if (n != h + 4 && n != h + 7) return false;
  const char* m = p + 1 + h;  // at the ':' before the minutes
  if (!digit(p[1]) || (h == 2 && (!digit(p[2]) || (p[1] - '0') * 10 + (p[2] - '0') > 23)) || *m != ':' ||
      m[1] < '0' || m[1] > '5' || !digit(m[2]))
    return false;
  return n == h + 4 || (m[3] == ':' && m[4] >= '0' && m[4] <= '5' && digit(m[5]));
}

bool IsRealDate(QByteArrayView line, QByteArrayView& day) {
  if (IsPlainRealDate(line, day)) return true;
  const std::optional<double> at = StrToDateTime(QString::fromUtf8(line));
  return at && *at >= kFirstStoredDay && *at < kLastStoredDay + 1;
}

bool IsColour(qint64 value) {
  return (value >= 0 && value <= 0xFFFFFF) || ColorToIdent(value, nullptr);
}

// Refuses a value outside what the property's table allows, before any setter sees it.
void CheckRange(const TComponent& object, const TPropInfo& p, const QString& path, const TStreamValue& v,
                const QVariant& decoded) {
  switch (p.Kind) {
    case TPropKind::Integer:
    case TPropKind::Charset: {
      const qint64 n = decoded.toLongLong();
      if (n < p.Min || n > p.Max)
        OutOfRange(object, path, QString::number(n), QStringLiteral("%1 to %2").arg(p.Min).arg(p.Max));
      break;
    }
    case TPropKind::Colour: {
      const qint64 n = decoded.toLongLong();
      if (!IsColour(n))
        OutOfRange(object, path,
                   QStringLiteral("%1 (0x%2)").arg(n).arg(static_cast<quint32>(n), 8, 16, QLatin1Char('0')),
                   QStringLiteral("a colour 0 to 0xFFFFFF (blue, green, red) or a colour name"));
      break;
    }
    case TPropKind::Float:
    case TPropKind::DateTime: {
      const double x = decoded.toDouble();
      if (!(x >= p.FloatMin && x <= p.FloatMax)) OutOfRange(object, path, FloatText(x), FloatTakes(p));
      break;
    }
    case TPropKind::StringList:
      if (v.Lines.size() > p.Max)
        OutOfRange(object, path, QStringLiteral("(%1 lines)").arg(v.Lines.size()),
                   QStringLiteral("at most %1 lines").arg(p.Max));
      if (p.DateLines && p.DateLines(object)) {
        qsizetype line = 0;
        QByteArrayView day;
        v.Lines.ForEachUtf8([&](QByteArrayView text) {
          if (!IsRealDate(text, day))
            OutOfRange(object, path,
                       QStringLiteral("(line %1: %2)")
                           .arg(line + 1)
                           .arg(QuotedText(QString::fromUtf8(text).left(40))),
                       QStringLiteral("a real date from 01.01.1900 to 31.12.9999 on every line"));
          ++line;
        });
      }
      break;
    default:
      break;
  }
}

// Finds the property a dotted path names, following nested objects; the ".Strings" of a string
// list names the list itself.
void Assign(TComponent& object, const QString& path, const TStreamValue& value) {
  TPersistent* target = &object;
  QString rest = path;
  for (;;) {
    const qsizetype dot = rest.indexOf(QLatin1Char('.'));
    const QString head = dot < 0 ? rest : rest.left(dot);
    const TPropInfo* p = target->ClassInfo().FindProperty(head);
    if (p == nullptr || p->ReadOnly()) NoProperty(*target, path);
    if (dot < 0) {
      if (p->Kind == TPropKind::StringList)
        throw EStreamRecordError(
            QStringLiteral("Property %1 is a string list, stored as %1.Strings").arg(path),
            EStreamRecordError::rpPropertyName);
      const QVariant decoded = Decode(*p, value, path);
      CheckRange(object, *p, path, value, decoded);
      p->Set(*target, decoded);
      return;
    }
    rest = rest.mid(dot + 1);
    if (p->Kind == TPropKind::StringList && rest == QLatin1String("Strings")) {
      const QVariant decoded = Decode(*p, value, path);
      CheckRange(object, *p, path, value, decoded);
      p->Set(*target, decoded);
      return;
    }
    if (p->Kind != TPropKind::Object || !p->Nested || p->Nested(*target) == nullptr)
      NoProperty(*target, path);
    target = p->Nested(*target);
  }
}

}  // namespace

std::unique_ptr<TComponent> BuildComponent(const TParsedStream& s) {
  const TClassInfo* info = TClassRegistry::Find(s.ClassName);
  if (info == nullptr || !info->Create)
    throw EStreamRecordError(QStringLiteral("Unknown class %1 in a component stream").arg(s.ClassName),
                             EStreamRecordError::rpClassName);
  std::unique_ptr<TComponent> object(info->Create(nullptr));
  object->SetState(csLoading | csReading);
  object->SetName(s.Name);
  for (size_t i = 0; i < s.Records.size(); ++i) {
    try {
      Assign(*object, s.Records[i].Name, s.Records[i].Value);
    } catch (EStreamRecordError& e) {
      e.Record = static_cast<int>(i);
      throw;
    }
  }
  object->Loaded();
  object->ClearState(csLoading | csReading);
  return object;
}

std::unique_ptr<TComponent> ReadComponent(const QByteArray& bytes) {
  return BuildComponent(ParseComponentStream(bytes));
}

}  // namespace vexa
