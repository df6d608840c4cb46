#pragma once
// The ranges of the stored properties, as the windows offer them and the program's code takes
// them, for the tests that read such values from streams and from texts.

#include <QString>
#include <QStringList>
#include <QVariant>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/Component.h"
#include "storage/StreamParser.h"

namespace vexa::test {

// An integer property accepted from Low to High, refused just past either end.
struct TIntRange {
  const char* Class;
  const char* Path;
  qint64 Low;
  qint64 High;
};

inline const TIntRange kIntRanges[] = {
    {"TRootNode", "ImageIndex", -1, 44},  // the 45 pictures of the image list, or none
    {"TRegisterNode", "MaxCount", 1, 8000},
    {"TRegisterNode", "Digits", 0, 15},             // "Цифр после запятой:"
    {"TRegisterNode", "LoggingInterval", 1, 1000},  // "Интервал опроса, с:"
    {"TRegisterNode", "Zero", -10000, 10000},       // "Ноль шкалы:"
    {"TRegisterNode", "Notch", 1, 10000},           // "Деления сетки:"
    {"TRegisterNode", "PenWidth", 1, 100},          // "Ширина линии:"
    {"TCommandNode", "Digits", 0, 15},
    {"TCommandNode", "SlotNumber", 0, 254},  // 255 points at most
    {"TReportNode", "LoggingIntervalIndex", 0, 13},
    {"TReportNode", "LoggingDurationIndex", 0, 14},
    {"TReportNode", "Trigger", 0, 1},
    {"TReportNode", "TimeOffset", 0, 23},
    {"TReportNode", "Save", 0, 1},
    {"TReportNode", "MaxCount", 1, 8000},
    {"TSetupNode", "PortIndex", -1, 7},  // none, COM1..COM8
    {"TSetupNode", "BaudRateIndex", 0, 6},
    {"TSetupNode", "AutoSaveInterval", 1, 120},
    {"TLabelDisplay", "Left", -16777215, 16777215},
    {"TLabelDisplay", "Top", -16777215, 16777215},
    {"TLabelDisplay", "Width", 0, 16777215},
    {"TLabelDisplay", "Height", 0, 16777215},
    {"TLabelDisplay", "Font.Charset", 0, 255},
    {"TLabelDisplay", "Font.Height", -2147483647, 2147483647},  // any size the label dialog takes
    {"TAlarmNode", "DelaySeconds", 0, 86400},                   // a day at most
    {"TAlarmNode", "Priority", 1, 3},
    {"TAlarmJournalNode", "KeepDays", 1, 36500},
};

// A string list accepted with MaxLines lines, refused with one more; Dated: of points in time.
struct TListRange {
  const char* Class;
  const char* Path;
  int MaxLines;
  bool Dated = false;
};

inline const TListRange kListRanges[] = {
    {"TRegisterNode", "Points.Strings", 8000, true}, {"TRegisterNode", "DataList.Strings", 8000},
    {"TCommandNode", "Points.Strings", 8000},        {"TSetupNode", "MNames.Strings", 1000},
    {"TSetupNode", "MFiles.Strings", 1000},          {"TReportNode", "Header.Strings", 1000},
    {"TReportNode", "Footer.Strings", 1000},
};

// A float or a date-time property narrowed to Low..High; every other one takes any finite number.
struct TFloatRange {
  const char* Class;
  const char* Path;
  double Low;
  double High;
};

// The last instant of 31.12.9999.
inline const double kLastStoredInstant = std::nextafter(2958466.0, 0.0);

inline const TFloatRange kFloatRanges[] = {
    {"TCustomRegister", "XScale", 0x1p-30, 0x1p30},
    {"TCustomRegister", "YScale", 1.0 / 64, 1024},
    {"TRegisterNode", "XScale", 0x1p-30, 0x1p30},
    {"TRegisterNode", "YScale", 1.0 / 64, 1024},  // the chart's zoom steps
    {"TCommandNode", "XScale", 0x1p-30, 0x1p30},  // the cyclogram's pixels per second
    {"TCommandNode", "YScale", 1.0 / 64, 1024},
    {"TReportNode", "StartPoint", 2, kLastStoredInstant},  // 01.01.1900 to 31.12.9999
    {"TReportNode", "LastPoint", 2, kLastStoredInstant},
    {"TAlarmNode", "HiHiLimit", -1e9, 1e9},  // what the limits dialog takes
    {"TAlarmNode", "HiLimit", -1e9, 1e9},
    {"TAlarmNode", "LoLimit", -1e9, 1e9},
    {"TAlarmNode", "LoLoLimit", -1e9, 1e9},
    {"TAlarmNode", "Deadband", 0, 1e9},
};

// What no float or date-time property takes.
inline const double kNonFinite[] = {std::numeric_limits<double>::quiet_NaN(),
                                    std::numeric_limits<double>::infinity(),
                                    -std::numeric_limits<double>::infinity()};

// Every persistent class a stored tree holds.
inline const char* const kStoredClasses[] = {"TRootNode",     "TCustomRegister", "TRegisterNode",
                                             "TCommandNode",  "TReportNode",     "TSetupNode",
                                             "TLabelDisplay", "TAlarmNode",      "TAlarmJournalNode"};

// The float and date-time properties of a class that a stream assigns.
inline QStringList FloatProperties(const QString& className) {
  QStringList paths;
  if (const TClassInfo* info = TClassRegistry::Find(className))
    for (const TPropInfo* p : info->Properties())
      if ((p->Kind == TPropKind::Float || p->Kind == TPropKind::DateTime) && !p->ReadOnly()) paths << p->Name;
  return paths;
}

// Colour properties: an RGB value of 24 bits or one of the named colours.
inline const std::pair<const char*, const char*> kColourProperties[] = {
    {"TRegisterNode", "PenColor"}, {"TLabelDisplay", "Color"}, {"TLabelDisplay", "Font.Color"}};
inline const qint64 kColoursAccepted[] = {0, 0xFFFFFF, 0x80000000, 0x80000018, 0x1FFFFFFF};
inline const qint64 kColoursRefused[] = {0x1000000, 0xFFFFFFFF, 0x80000019, 0x20000000, 0x7FFFFFFF};

// The component name the tests give an object of the class, and how a message names it.
inline QString ObjectName(const QString& className) {
  if (className == QLatin1String("TSetupNode")) return QStringLiteral("SETUP");
  if (className == QLatin1String("TReportNode")) return QStringLiteral("R001");
  if (className == QLatin1String("TLabelDisplay")) return QString();
  if (className == QLatin1String("TRootNode")) return QStringLiteral("D001");
  return QStringLiteral("D001C002R003");
}
inline QString ObjectText(const QString& className) {
  const QString name = ObjectName(className);
  return name.isEmpty() ? QStringLiteral("an unnamed ") + className
                        : QStringLiteral("%1 (%2)").arg(name, className);
}

inline TStreamValue IntValue(qint64 v) {
  TStreamValue value;
  value.Int = static_cast<int32_t>(static_cast<uint32_t>(v));
  value.Tag = value.Int >= -128 && value.Int <= 127       ? vaInt8
              : value.Int >= -32768 && value.Int <= 32767 ? vaInt16
                                                          : vaInt32;
  return value;
}

inline TStreamValue FloatValue(double v) {
  TStreamValue value;
  value.Tag = vaExtended;
  value.Float = v;
  return value;
}

// A float as a refusal names it.
inline QString FloatText(double v) {
  if (std::isnan(v)) return QStringLiteral("NaN");
  if (std::isinf(v)) return v > 0 ? QStringLiteral("Inf") : QStringLiteral("-Inf");
  return QString::number(v, 'g', 17);
}

// Line i of a test list: a number, or a time i seconds after 07.12.2026 12:00:00.
inline QString ListLine(int i, bool dated) {
  if (!dated) return QString::number(i);
  return QStringLiteral("%1.12.2026 %2:%3:%4")
      .arg(7 + i / 86400, 2, 10, QLatin1Char('0'))
      .arg(12 + i / 3600 % 12)
      .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(i % 60, 2, 10, QLatin1Char('0'));
}

inline TStreamValue ListValue(int lines, bool dated = false) {
  TStreamValue value;
  value.Tag = vaList;
  for (int i = 0; i < lines; ++i) value.Lines.append(ListLine(i, dated));
  return value;
}

// History times as the register's Points take them, or refuse them.
struct TTimeLine {
  const char* Text;
  bool Accepted;
};

inline const TTimeLine kTimeLines[] = {
    {"07.12.2026 9:05:03", true},
    {"7.12.2026 12:00", true},
    {"29.02.2028 23:59:59", true},
    {"01.01.1900", true},
    {"31.12.9999 23:59:59", true},
    {"12/7/2026 9:05:03 AM", true},  // a history kept under an English regional format
    {"07.12.2026 9:05:03,500", true},
    {"31.02.2026 9:00:00", false},
    {"29.02.2027 9:00:00", false},
    {"31.04.2026", false},
    {"07.12.2026 24:00:00", false},
    {"07.12.2026 9:60:00", false},
    {"07.12.2026 9:05:61", false},
    {"31.12.1899 23:00:00", false},
    {"", false},
    {"***", false},
    {"07.12.2026 9:05:03 x", false},
    {"07.12.2026  9:05:03z", false},
};

inline TParsedStream OneRecord(const QString& className, const QString& path, TStreamValue value) {
  TParsedStream s;
  s.ClassName = className;
  s.Name = ObjectName(className);
  s.Records.push_back({path, std::move(value)});
  return s;
}

// The value a dotted path names on an object, through the property tables.
inline QVariant StoredValue(TPersistent& object, const QString& path) {
  TPersistent* target = &object;
  const QStringList parts = path.split(QLatin1Char('.'));
  for (qsizetype i = 0; i < parts.size(); ++i) {
    const TPropInfo* p = target->ClassInfo().FindProperty(parts[i]);
    if (p == nullptr) return {};
    if (p->Kind == TPropKind::Object) {
      target = p->Nested(*target);
      continue;
    }
    return p->Get(*target);
  }
  return {};
}

}  // namespace vexa::test
