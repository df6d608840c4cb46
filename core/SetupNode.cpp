#include "core/SetupNode.h"

#include "core/Globals.h"
#include "core/LineSpeeds.h"
#include "core/Protocol.h"
#include "core/Services.h"

namespace vexa {

namespace {
const QString kNoPort = QStringLiteral("Порт связи не установлен!");
const QString kPortBusy = QStringLiteral("Порт не существует или занят!");
const QString kNoSpeed = QStringLiteral("Скорость обмена не установлена!");
}  // namespace

TSetupNode::TSetupNode(TComponent* owner) : TComponent(owner), tablesDir_(ExeDir()) {
  SetName(QStringLiteral("SETUP"));
}

const TClassInfo& TSetupNode::StaticClassInfo() {
  using P = Props<TSetupNode>;
  static const TClassInfo info{
      "TSetupNode",
      &TComponent::StaticClassInfo(),
      [](TComponent* owner) -> TComponent* { return new TSetupNode(owner); },
      {
          P::String("Password", &TSetupNode::Password, &TSetupNode::SetPassword),
          // -1: no port chosen; 0..7: COM1..COM8.
          P::Int("PortIndex", std::nullopt, &TSetupNode::PortIndex, &TSetupNode::SetPortIndex).Within(-1, 7),
          P::Int("BaudRateIndex", std::nullopt, &TSetupNode::BaudRateIndex, &TSetupNode::SetBaudRateIndex)
              .Within(0, kLineSpeedCount - 1),
          P::Bool("AutoSaveEnabled", false, &TSetupNode::AutoSaveEnabled, &TSetupNode::SetAutoSaveEnabled),
          // Minutes, as the settings window offers them.
          P::Int("AutoSaveInterval", 5, &TSetupNode::AutoSaveInterval, &TSetupNode::SetAutoSaveInterval)
              .Within(1, 120),
          P::Bool("AutoLoadEnabled", true, &TSetupNode::AutoLoadEnabled, &TSetupNode::SetAutoLoadEnabled),
          P::String("TablesDir", &TSetupNode::TablesDir, &TSetupNode::SetTablesDir),
          P::Bool("NewConfig", false, &TSetupNode::NewConfig, &TSetupNode::SetNewConfig),
          P::Bool("Demo", false, &TSetupNode::Demo, &TSetupNode::SetDemo),
          P::StringList("MNames", &TSetupNode::MNames, &TSetupNode::SetMNames).AtMostLines(kMaxDiagramPages),
          P::StringList("MFiles", &TSetupNode::MFiles, &TSetupNode::SetMFiles).AtMostLines(kMaxDiagramPages),
      }};
  return info;
}

void TSetupNode::SetLines() {
  Comm->SetRTS(false);
  Comm->SetDTR(false);
}

void TSetupNode::SetPortIndex(int value) {
  if (IsStreaming()) {
    portIndex_ = value;
    return;
  }
  if (value < 0 || value > 7) {
    ShowMessage(kNoPort, TMsgIcon::Error);
    return;
  }
  if (value == portIndex_ && Comm && Comm->Connected()) return;
  try {
    // An exchange in flight ends on the old port, the next starts on the new; released before a
    // message is shown.
    const auto lineLock = LockLine();
    if (!Comm) throw ECommError(QStringLiteral("Error accessing specified device"), -1);
    // The same port chosen again after its device went away is opened again; should that fail it
    // stays lost, so the exchanges keep trying it.
    const bool reopen = value == portIndex_ && Comm->Lost();
    if (!reopen) Comm->Close();
    Comm->SetDeviceName(QStringLiteral("COM%1").arg(value + 1));
    Comm->Open();
    SetLines();
    if (!reopen && Comm->LossTold()) {
      // Another port instead of the lost one: that loss is over.
      Comm->SetLossTold(false);
      if (Services().LineNotice)
        Services().LineNotice(QStringLiteral("Порт %1 открыт").arg(Comm->DeviceName()), false);
    }
    TellPortState(*Comm);
  } catch (const ECommError& e) {
    // A port the user may not open says why and what to do; any other failure keeps the short text.
    ShowMessage(e.AccessDenied() ? e.Text() : kPortBusy, TMsgIcon::Error);
  }
  portIndex_ = value;
}

void TSetupNode::SetBaudRateIndex(int value) {
  if (!IsStreaming()) {
    try {
      if (!Comm) throw ECommError(QStringLiteral("Port not open, unable to complete operation"), -1);
      if (const TLineSpeed* speed = LineSpeed(value)) Comm->SetBaudRate(speed->Rate);
      SetLines();
    } catch (const ECommError&) {
      ShowMessage(kNoSpeed, TMsgIcon::Error);
    }
  }
  baudRateIndex_ = value;
}

}  // namespace vexa
