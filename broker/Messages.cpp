#include "broker/Messages.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <cmath>
#include <optional>

#include "broker/Instants.h"
#include "broker/RemoteWrites.h"
#include "core/CustomRegister.h"
#include "core/Services.h"
#include "reports/model/ReportNode.h"
#include "ui/model/AlarmModel.h"
#include "ui/model/LabelDisplay.h"

namespace vexa {

namespace {

QByteArray Compact(const QJsonObject& o) {
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

}  // namespace

TRead ReadOf(const TCustomRegister& reg, const TInstants& instants) {
  TRead r;
  r.Name = reg.Name().toUtf8();
  r.Text = reg.LastStringData().toUtf8();
  r.Caption = reg.Caption().toUtf8();
  // Here, not on the session's thread: local time is asked of the C library, whose own lock the
  // thread sanitizer cannot see.
  r.Time = instants.Iso(reg.RDTime() > 0 ? reg.RDTime() : Now()).toUtf8();
  r.Ok = reg.LastIOResult() == iorOK;
  if (reg.ComponentCount() > 0)
    if (const auto* label = dynamic_cast<const TLabelDisplay*>(reg.Component(0)))
      r.Units = label->Units().toUtf8();
  if (r.Ok && reg.RegisterType() != rtASCIIZ && reg.RegisterType() != rtUnknown) {
    if (const std::optional<double> v = StrToFloat(reg.LastStringData())) {
      r.Numeric = true;
      r.Value = *v;
    }
  }
  return r;
}

QByteArray ValuePayload(const TRead& r) {
  const QString text = QString::fromUtf8(r.Text);
  QJsonObject o;
  o[QStringLiteral("value")] = !r.Ok ? QJsonValue() : r.Numeric ? QJsonValue(r.Value) : QJsonValue(text);
  o[QStringLiteral("text")] = text;
  o[QStringLiteral("time")] = QString::fromUtf8(r.Time);
  o[QStringLiteral("ok")] = r.Ok;
  o[QStringLiteral("caption")] = QString::fromUtf8(r.Caption);
  o[QStringLiteral("units")] = QString::fromUtf8(r.Units);
  return Compact(o);
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
                      {QStringLiteral("value"), write.Value.left(kLongestRemoteText)},
                      {QStringLiteral("user"), WriterOf(write)},
                      {QStringLiteral("ok"), write.Written},
                      {QStringLiteral("outcome"), write.Outcome}};
  return Compact(o);
}

QByteArray DroppedPayload(int64_t dropped, int bound) {
  return Compact({{QStringLiteral("dropped"), static_cast<double>(dropped)},
                  {QStringLiteral("bound"), bound},
                  {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}});
}

}  // namespace vexa
