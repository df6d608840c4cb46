#include "web/WebView.h"

#include <QFile>
#include <QFileInfo>

#include "alarms/model/AlarmMonitor.h"
#include "alarms/model/AlarmTexts.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/RootNode.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "ui/model/LabelDisplay.h"
#include "web/HttpRules.h"

namespace vexa {

namespace {

void WalkRegisters(const TComponent& node, const std::function<void(const TCustomRegister&)>& visit) {
  for (int i = 0; i < node.ComponentCount(); ++i) {
    const TComponent* child = node.Component(i);
    if (const auto* reg = dynamic_cast<const TCustomRegister*>(child)) visit(*reg);
    WalkRegisters(*child, visit);
  }
}

QString CaptionOf(const TComponent* node) {
  const auto* root = dynamic_cast<const TRootNode*>(node);
  if (root == nullptr) return {};
  return root->Caption().isEmpty() ? root->Name() : root->Caption();
}

// The regulator's and channel's captions above a register, " / " between.
QString PlaceOf(const TCustomRegister& reg) {
  QStringList parts;
  for (const TComponent* up = reg.Owner(); up != nullptr && up->Owner() != nullptr; up = up->Owner())
    parts.prepend(CaptionOf(up));
  return parts.join(QStringLiteral(" / "));
}

// The time of the value shown: none while there is no value.
QString TimeOf(const TCustomRegister& reg) {
  return reg.RDTime() > 0 && !reg.LastStringData().isEmpty() ? DateTimeToStr(reg.RDTime()) : QString();
}

QByteArray PictureType(const QString& file) {
  const QString suffix = QFileInfo(file).suffix().toLower();
  if (suffix == QLatin1String("png")) return "image/png";
  if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg")) return "image/jpeg";
  if (suffix == QLatin1String("gif")) return "image/gif";
  if (suffix == QLatin1String("bmp")) return "image/bmp";
  return {};
}

}  // namespace

QByteArray ReadPagePicture(const QString& file) {
  QFile f(file);
  if (f.size() > kMaxPictureBytes || !f.open(QIODevice::ReadOnly)) return {};
  return f.read(kMaxPictureBytes);
}

QString PagePictureFile(const QString& stored, const QString& programFolder) {
  if (!stored.isEmpty() && QFileInfo(stored).isFile()) return stored;
  const qsizetype cut = std::max(stored.lastIndexOf(QLatin1Char('/')), stored.lastIndexOf(QLatin1Char('\\')));
  const QString name = stored.mid(cut + 1);
  if (name.isEmpty()) return {};
  const QString local = programFolder + QLatin1Char('/') + name;
  return QFileInfo(local).isFile() ? local : QString();
}

TWebChange ChangeOf(const TCustomRegister& reg, const TAlarmMonitor* alarms) {
  TWebChange c;
  c.Register = reg.Name();
  c.HasValue = true;
  if (const TLabelDisplay* label = LabelOf(&reg)) c.LabelText = label->Caption();
  c.Value = reg.LastStringData();
  c.Time = TimeOf(reg);
  if (alarms != nullptr) std::tie(c.Alarm, c.Priority) = alarms->WorstState(reg.Name());
  return c;
}

std::vector<TWebAlarm> ActiveWebAlarms(const TAlarmMonitor& alarms) {
  std::vector<TWebAlarm> list;
  for (const TActiveAlarm& a : alarms.Active())
    list.push_back({a.Name, ActiveAlarmRow(a), a.State, a.Priority});
  return list;
}

TWebView BuildWebView(const TNetwork& network, const TAlarmMonitor* alarms) {
  TWebView view;
  const TSetupNode& setup = *const_cast<TNetwork&>(network).Setup();
  const QStringList names = setup.MNames();
  const QStringList files = setup.MFiles();
  for (int i = 0; i < names.size(); ++i) {
    TWebPage page;
    bool blank = true;
    for (const QChar c : names[i]) blank = blank && c.unicode() <= 0x20;
    page.Caption = blank ? QStringLiteral("[Без названия - %1]").arg(i + 1) : names[i];
    const QString file = PagePictureFile(i < files.size() ? files[i] : QString(), network.Dir());
    // The bytes are read beside the server when a browser first asks: no file is read here.
    if (!file.isEmpty()) {
      page.PictureFile = file;
      page.PictureType = PictureType(file);
    }
    view.Pages.push_back(std::move(page));
  }
  const TRootNode* net = const_cast<TNetwork&>(network).Net().get();
  if (net == nullptr) return view;
  WalkRegisters(*net, [&](const TCustomRegister& reg) {
    const TWebChange c = ChangeOf(reg, alarms);
    view.Registers.push_back({reg.Name(), PlaceOf(reg),
                              CaptionOf(&reg).isEmpty() ? reg.Name() : reg.Caption(), c.Value, c.Time,
                              reg.Enabled(), c.Alarm, c.Priority});
    const TLabelDisplay* label = LabelOf(&reg);
    if (label == nullptr) return;
    const QString parent = label->ParentName();
    if (!parent.startsWith(QLatin1String("ts"))) return;
    bool ok = false;
    const int index = parent.mid(2).toInt(&ok);
    if (!ok || index < 0 || index >= static_cast<int>(view.Pages.size())) return;
    TWebLabel l;
    l.Register = reg.Name();
    l.Left = label->Left();
    l.Top = label->Top();
    l.Text = label->Caption();
    l.Color = label->Color();
    l.FontColor = label->Font().Color();
    l.FontPx = std::clamp(std::abs(label->Font().Height()), 1, 200);
    l.Style = label->Font().Style();
    l.FontName = label->Font().Name();
    l.Border = label->BorderStyle();
    l.Alarm = c.Alarm;
    l.Priority = c.Priority;
    view.Pages[static_cast<size_t>(index)].Labels.push_back(std::move(l));
  });
  if (alarms != nullptr) {
    view.Alarms = ActiveWebAlarms(*alarms);
    view.Unacked = alarms->UnackedCount();
  }
  return view;
}

bool Apply(TWebView& view, const TWebChange& change) {
  bool shown = false;
  for (TWebPage& page : view.Pages)
    for (TWebLabel& l : page.Labels)
      if (l.Register == change.Register) {
        if (change.HasValue && !change.LabelText.isNull()) l.Text = change.LabelText;
        l.Alarm = change.Alarm;
        l.Priority = change.Priority;
        shown = true;
      }
  for (TWebRow& row : view.Registers)
    if (row.Name == change.Register) {
      if (change.HasValue) {
        row.Value = change.Value;
        row.Time = change.Time;
      }
      row.Alarm = change.Alarm;
      row.Priority = change.Priority;
      shown = true;
    }
  return shown;
}

std::string ChangesJson(const std::vector<TWebChange>& changes, int unacked, bool alarmsChanged) {
  std::string json =
      R"({"unacked":)" + std::to_string(unacked) + R"(,"alarms":)" + (alarmsChanged ? "true" : "false");
  json += R"(,"v":[)";
  for (size_t i = 0; i < changes.size(); ++i) {
    const TWebChange& c = changes[i];
    if (i > 0) json += ',';
    json += R"({"n":)" + JsonString(c.Register);
    if (c.HasValue)
      json += R"(,"t":)" + JsonString(c.LabelText) + R"(,"v":)" + JsonString(c.Value) + R"(,"at":)" +
              JsonString(c.Time) + R"(,"r":)" + std::to_string(c.ReadMs);
    json += R"(,"a":)" + std::to_string(static_cast<int>(c.Alarm)) + R"(,"c":")" +
            CssColourOfArgb(PriorityColour(c.Priority)) + R"("})";
  }
  return json + "]}";
}

}  // namespace vexa
