#include "broker/Messages.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cmath>
#include <optional>

#include "alarms/model/AlarmModel.h"
#include "broker/Instants.h"
#include "broker/RemoteWrites.h"
#include "core/CustomRegister.h"
#include "core/Services.h"
#include "reports/model/ReportNode.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {

namespace {

QByteArray Compact(const QJsonObject& o) {
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// A JSON string of UTF-8 text: quotes, backslashes and control characters escaped.
void AppendJsonString(QByteArray& json, const QByteArray& utf8) {
  static constexpr char kHex[] = "0123456789abcdef";
  json += '"';
  for (const char c : utf8) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (u < 0x20) {
      json += "\\u00";
      json += kHex[u >> 4];
      json += kHex[u & 0xF];
    } else {
      json += c;
    }
  }
  json += '"';
}

QByteArray JsonString(const QString& text) {
  QByteArray json;
  AppendJsonString(json, text.toUtf8());
  return json;
}

// The object's JSON with "value" first, given as JSON text: QJsonObject cannot write 35.0.
QByteArray WithValue(const QJsonObject& rest, const QByteArray& value) {
  QByteArray json = Compact(rest);
  json.insert(1, "\"value\":" + value + (rest.isEmpty() ? "" : ","));
  return json;
}

// The number with `digits` decimals as the register's write rounds it: its shortest decimal text
// rounded half to even, so 36.55 is 36.6 (a double's 36.549999… would give 36.5).
QByteArray RoundedDecimal(double v, int digits) {
  QByteArray text = QByteArray::number(v, 'g', 15);
  if (text.contains('e')) return QByteArray::number(v, 'f', digits);
  const bool negative = text.startsWith('-');
  if (negative) text.remove(0, 1);
  const qsizetype point = text.indexOf('.');
  QByteArray whole = point < 0 ? text : text.left(point);
  QByteArray fraction = point < 0 ? QByteArray() : text.mid(point + 1);
  if (fraction.size() < digits) fraction += QByteArray(digits - fraction.size(), '0');
  QByteArray kept = whole + fraction.left(digits);
  const QByteArray rest = fraction.mid(digits);
  const bool tie = rest.size() > 0 && rest[0] == '5' && rest.mid(1).count('0') == rest.size() - 1;
  const bool up =
      !rest.isEmpty() && (rest[0] > '5' || (rest[0] == '5' && (!tie || (kept.back() - '0') % 2 == 1)));
  if (up) {
    qsizetype i = kept.size() - 1;
    for (; i >= 0 && kept[i] == '9'; --i) kept[i] = '0';
    if (i < 0)
      kept.prepend('1');
    else
      ++kept[i];
  }
  QByteArray json = digits > 0 ? kept.left(kept.size() - digits) + '.' + kept.right(digits) : kept;
  if (json.startsWith('.')) json.prepend('0');
  const bool zero = kept.count('0') == kept.size();
  return negative && !zero ? '-' + json : json;
}

// What a consumer that keeps one type per field (a historian) sorts the values by.
const char* KindWord(TValueKind kind) {
  switch (kind) {
    case TValueKind::Number:
      return "number";
    case TValueKind::Boolean:
      return "boolean";
    case TValueKind::Text:
    case TValueKind::None:
      break;
  }
  return "text";
}

const TRootNode* Level(const TComponent* node) {
  // NET itself is no level: only a node that has an owner.
  const auto* level = dynamic_cast<const TRootNode*>(node);
  return level != nullptr && level->Owner() != nullptr ? level : nullptr;
}

}  // namespace

TValueType ValueTypeOf(const TCustomRegister& reg) {
  switch (reg.RegisterType()) {
    case rtASCIIZ:
    case rtUnknown:
      return {TValueKind::Text, 0};
    case rtBOOL:
      // A Boolean register with decimals is shown and written as a number.
      if (reg.Digits() == 0) return {TValueKind::Boolean, 0};
      [[fallthrough]];
    default:
      return {TValueKind::Number, reg.Digits()};
  }
}

std::optional<bool> BooleanOf(const QString& text) {
  const QString word = text.trimmed().toLower();
  if (word == QLatin1String("true") || word == QLatin1String("1") || word == QLatin1String("on")) return true;
  if (word == QLatin1String("false") || word == QLatin1String("0") || word == QLatin1String("off"))
    return false;
  return std::nullopt;
}

QByteArray JsonValue(const QString& text, const TValueType& type) {
  switch (type.Kind) {
    case TValueKind::Text:
      return JsonString(text);
    case TValueKind::Boolean:
      if (const std::optional<bool> b = BooleanOf(text)) return *b ? "true" : "false";
      return "null";
    case TValueKind::None:
      return "null";
    case TValueKind::Number:
      break;
  }
  QString number = text.trimmed();
  number.replace(QLatin1Char('.'), FormatSettings().DecimalSeparator);
  const std::optional<double> v = StrToFloat(number);
  if (!v || !std::isfinite(*v)) return "null";
  return RoundedDecimal(*v, type.Digits);
}

TPlace PlaceOf(const TCustomRegister& reg) {
  TPlace place;
  const TRootNode* channel = Level(reg.Owner());
  if (channel == nullptr) return place;
  place.Channel = channel->Caption();
  if (const TRootNode* regulator = Level(channel->Owner())) place.Regulator = regulator->Caption();
  return place;
}

TRead ReadOf(const TCustomRegister& reg, const TInstants& instants) {
  TRead r;
  r.Name = reg.Name().toUtf8();
  r.Text = reg.LastStringData().toUtf8();
  r.Caption = reg.Caption().toUtf8();
  const TPlace place = PlaceOf(reg);
  r.Channel = place.Channel.toUtf8();
  r.Regulator = place.Regulator.toUtf8();
  // Here, not on the session's thread: local time is asked of the C library, whose own lock the
  // thread sanitizer cannot see.
  r.Time = instants.Iso(reg.RDTime() > 0 ? reg.RDTime() : Now()).toUtf8();
  r.Ok = reg.LastIOResult() == iorOK;
  if (reg.ComponentCount() > 0)
    if (const auto* label = dynamic_cast<const TLabelDisplay*>(reg.Component(0)))
      r.Units = UnitsShown(label->Units()).toUtf8();  // as the label shows them: "м³/ч"
  r.Type = ValueTypeOf(reg);
  // Here, where the text was read: the session's thread only assembles.
  r.Value = r.Ok ? JsonValue(reg.LastStringData(), r.Type) : QByteArray("null");
  return r;
}

QByteArray ValuePayload(const TRead& r) {
  // By hand, in the order QJsonDocument would write the keys after "value": a thousand a second.
  QByteArray json;
  json.reserve(160 + r.Text.size() + r.Caption.size() + r.Channel.size() + r.Regulator.size() +
               r.Units.size());
  json += "{\"value\":";
  json += r.Value;
  const auto field = [&json](const char* key, const QByteArray& utf8) {
    json += ",\"";
    json += key;
    json += "\":";
    AppendJsonString(json, utf8);
  };
  field("caption", r.Caption);
  field("channel", r.Channel);
  json += r.Ok ? ",\"ok\":true" : ",\"ok\":false";
  field("regulator", r.Regulator);
  field("text", r.Text);
  field("time", r.Time);
  field("type", KindWord(r.Type.Kind));
  field("units", r.Units);
  json += '}';
  return json;
}

QByteArray ArchivePayload(const TRootNode& node, const QString& archiveName, const TInstants& instants) {
  QJsonObject o;
  o[QStringLiteral("archive")] = archiveName;
  o[QStringLiteral("report")] = node.Caption();
  if (const auto* report = dynamic_cast<const TReportNode*>(&node)) {
    const double start = report->StartPoint();
    const double end = start + LoggingDurationSeconds(report->LoggingDurationIndex()) / kSecondsPerDay;
    o[QStringLiteral("window")] = QJsonObject{{QStringLiteral("start"), instants.Iso(start)},
                                              {QStringLiteral("end"), instants.Iso(end)}};
    int samples = 0;
    for (int i = 0; i < report->ComponentCount(); ++i)
      if (const auto* reg = dynamic_cast<const TCustomRegister*>(report->Component(i)))
        samples = std::max(samples, reg->Count());
    o[QStringLiteral("samples")] = samples;
  }
  o[QStringLiteral("time")] = instants.Iso(Now());
  return Compact(o);
}

QByteArray AlarmPayload(const TAlarmEvent& event, const TInstants& instants) {
  QJsonObject o{{QStringLiteral("time"), instants.Iso(event.Time)},
                {QStringLiteral("kind"), EventWord(event.Kind)},
                {QStringLiteral("register"), event.Name},
                {QStringLiteral("caption"), event.Caption},
                {QStringLiteral("condition"), ConditionCode(event.Condition)},
                {QStringLiteral("state"), StateWord(event.State)},
                {QStringLiteral("priority"), event.Priority},
                {QStringLiteral("user"), event.Who}};
  if (!std::isnan(event.Value)) o.insert(QStringLiteral("value"), event.Value);
  return Compact(o);
}

QByteArray RemoteWritePayload(const TRemoteWrite& write, const TInstants& instants) {
  const QJsonObject o{{QStringLiteral("time"), instants.Iso(write.Time)},
                      {QStringLiteral("kind"), EventWord(TAlarmEventKind::RemoteWrite)},
                      {QStringLiteral("register"), write.Register.left(kLongestRemoteText)},
                      {QStringLiteral("caption"), write.Caption},
                      {QStringLiteral("asked"), write.Asked.left(kLongestRemoteText)},
                      {QStringLiteral("user"), WriterOf(write)},
                      {QStringLiteral("ok"), write.Written},
                      {QStringLiteral("outcome"), write.Outcome}};
  return WithValue(o, JsonValue(write.Value.left(kLongestRemoteText), write.Type));
}

QByteArray WriteResultPayload(const TRemoteWrite& write, const QString& isoTime) {
  const QJsonObject o{{QStringLiteral("asked"), write.Asked.left(kLongestRemoteText)},
                      {QStringLiteral("ok"), write.Written},
                      {QStringLiteral("outcome"), write.Outcome},
                      {QStringLiteral("user"), WriterOf(write)},
                      {QStringLiteral("time"), isoTime}};
  return WithValue(o, JsonValue(write.Value.left(kLongestRemoteText), write.Type));
}

QByteArray DroppedPayload(int64_t dropped, int bound) {
  return Compact({{QStringLiteral("dropped"), static_cast<double>(dropped)},
                  {QStringLiteral("bound"), bound},
                  {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}});
}

}  // namespace vexa
