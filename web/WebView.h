#pragma once
// What the browser is shown, copied from the network on the main thread: the diagram pages with
// their pictures and labels (texts as the labels make them, colours, alarm states), the registers
// as a table and the active alarms. The server's thread keeps its own copy and applies the changes
// the main thread sends after it.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "alarms/model/AlarmModel.h"

namespace vexa {

class TNetwork;
class TAlarmMonitor;
class TCustomRegister;

struct TWebLabel {
  QString Register;
  int Left = 0;
  int Top = 0;
  QString Text;  // the label's caption: "Prefix Value Units"
  int Color = 0x00FFFF;
  int FontColor = 0;
  int FontPx = 11;
  quint32 Style = 0;
  QString FontName;
  int Border = 1;  // TStaticBorderStyle
  TAlarmState Alarm = TAlarmState::Normal;
  int Priority = 2;
};

struct TWebPage {
  QString Caption;
  QString PictureFile;  // empty when there is none
  QByteArray PictureType;
  QByteArray Picture;  // its bytes once read (beside the server, when first asked)
  std::vector<TWebLabel> Labels;
};

struct TWebRow {
  QString Name;
  QString Place;  // regulator / channel
  QString Caption;
  QString Value;
  QString Time;
  bool Enabled = false;
  TAlarmState Alarm = TAlarmState::Normal;
  int Priority = 2;
};

struct TWebAlarm {
  QString Name;
  QStringList Row;  // as the alarm window's active list shows it
  TAlarmState State = TAlarmState::Normal;
  int Priority = 2;
};

struct TWebView {
  std::vector<TWebPage> Pages;
  std::vector<TWebRow> Registers;
  std::vector<TWebAlarm> Alarms;
  int Unacked = 0;
};

// One register's news after a read or an alarm's change.
struct TWebChange {
  QString Register;
  bool HasValue = false;  // false: only its alarm state changed
  QString LabelText;      // empty when it has no label
  QString Value;
  QString Time;
  TAlarmState Alarm = TAlarmState::Normal;
  int Priority = 2;
  int64_t ReadMs = 0;  // when the main thread stored the read (UTC epoch ms): the pushes' latency
};

// The whole view of a network now; alarms may be null (no alarm states).
TWebView BuildWebView(const TNetwork& network, const TAlarmMonitor* alarms);
TWebChange ChangeOf(const TCustomRegister& reg, const TAlarmMonitor* alarms);
std::vector<TWebAlarm> ActiveWebAlarms(const TAlarmMonitor& alarms);
// Applies a change to the view (label texts, the table's row); false when it names nothing shown.
bool Apply(TWebView& view, const TWebChange& change);
// The changes as the pages' script takes them over the WebSocket.
std::string ChangesJson(const std::vector<TWebChange>& changes, int unacked, bool alarmsChanged);

// The picture's file for a page as the diagrams look for it: the path stored, else a file of that
// name in the program's folder.
QString PagePictureFile(const QString& stored, const QString& programFolder);
// A picture's bytes, empty when it cannot be read or is larger than a page should carry.
inline constexpr qint64 kMaxPictureBytes = 32 * 1024 * 1024;
QByteArray ReadPagePicture(const QString& file);

}  // namespace vexa
