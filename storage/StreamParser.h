#pragma once
// The parsed form of a component stream: its class name, component name and property records as
// decoded values, before any object exists.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

#include "core/TextList.h"
#include "storage/StreamFormat.h"

namespace vexa {

// One decoded value of a property record.
struct TStreamValue {
  TValueTag Tag = vaNull;
  qint64 Int = 0;     // vaInt8/16/32
  double Float = 0;   // vaExtended
  QString Text;       // vaString, vaLString, vaIdent
  QStringList Items;  // vaSet identifiers
  // vaList elements: all in Lines while every element is text (string lists, histories of thousands
  // of entries), else all in List.
  TTextList Lines;
  std::vector<TStreamValue> List;
};

struct TStreamRecord {
  QString Name;  // dotted path, e.g. Font.Height or Points.Strings
  TStreamValue Value;
};

struct TParsedStream {
  QString ClassName;
  QString Name;
  std::vector<TStreamRecord> Records;
};

// Parses the bytes of a component stream; raises EStreamError for anything malformed. Bytes after
// the final end tag are ignored.
TParsedStream ParseComponentStream(const QByteArray& bytes);
// A value as text for listings, on one line whatever it holds: 12, 1.5, 1.0, 1e-300, 'it''s',
// 'a'#13#10'b', rtINT, [fsBold], ('a', 'b'), nil. A float always shows a decimal point or an
// exponent, so it never reads as an integer.
QString StreamValueText(const TStreamValue& value);
// A text between single quotes, a quote doubled; control characters stand outside the quotes as
// #code ('line 1'#13#10'line 2'), so a text never breaks a line.
QString QuotedText(const QString& text);
// The shortest text that reads back as the same double, with ".0" added to a whole number; Inf,
// -Inf, NaN.
QString FloatText(double value);

}  // namespace vexa
