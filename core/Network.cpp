#include "core/Network.h"

#include <algorithm>

#include "core/ExecuterUnit.h"
#include "core/LineSpeeds.h"

namespace vexa {

namespace {
const QString kNoPort = QStringLiteral("Порт связи не установлен!");
const QString kPortBusy = QStringLiteral("Порт не существует или занят!");
const QString kNoSpeed = QStringLiteral("Скорость обмена не установлена!");

// Drops RTS and DTR after the port has been opened or its speed changed.
void DropModemLines(TCustomComm& port) {
  port.SetRTS(false);
  port.SetDTR(false);
}
}  // namespace

const std::vector<TRootInfo>& Roots() {
  static const std::vector<TRootInfo> roots = {
      {"NET", "Сеть", iiTREE, "Загрузка структуры сети...", true, TRootId::Net},
      {"TTEMPLATES", "Шаблоны процессов", iiCYCLOS, "Загрузка шаблонов процессов...", true,
       TRootId::TTemplates},
      {"TASKS", "Процессы", iiNone, "Загрузка процессов...", true, TRootId::Tasks},
      {"RTEMPLATES", "Шаблоны отчетов", iiPROCESSES, "Загрузка шаблонов отчетов...", true,
       TRootId::RTemplates},
      {"REPORTS", "Отчеты", iiNone, "Загрузка отчетов...", true, TRootId::Reports},
      // The channel templates have their own file, read when a search starts or their window opens.
      {"REGISTRY", "Шаблоны каналов", iiCHANNELS, nullptr, false, TRootId::Registry},
      // The alarm settings load without a caption of their own: the start-up shows what it did.
      {"ALARMS", "Тревоги", iiNone, nullptr, true, TRootId::Alarms},
  };
  return roots;
}

void CreateTreeRoot(std::unique_ptr<TRootNode>& slot, const QString& name, const QString& caption,
                    int imageIndex) {
  slot.reset();
  slot = std::make_unique<TRootNode>(nullptr);
  slot->SetCaption(caption);
  slot->SetName(name);
  slot->SetImageIndex(imageIndex);
}

TNetwork::TNetwork(QString dir, std::unique_ptr<TCustomComm> port)
    : dir_(std::move(dir)), line_(std::move(port)) {
  for (const TRootInfo& r : Roots())
    CreateTreeRoot(Root(r.Id), QString::fromLatin1(r.Name), QString::fromUtf8(r.Caption), r.ImageIndex);
  setup_ = std::make_unique<TSetupNode>(nullptr);
  setup_->SetTablesDir(dir_);
}

TNetwork::~TNetwork() {
  StopPoller();
  retired_.clear();
  setup_.reset();
  // The roots go in the reverse of their order.
  const auto& roots = Roots();
  for (size_t i = roots.size(); i-- > 0;) Root(roots[i].Id).reset();
}

std::unique_ptr<TRootNode>* TNetwork::RootSlot(const QString& name) {
  for (const TRootInfo& r : Roots())
    if (name == QLatin1String(r.Name)) return &Root(r.Id);
  return nullptr;
}

void TNetwork::RecreateRoot(const QString& name) {
  for (const TRootInfo& r : Roots())
    if (name == QLatin1String(r.Name))
      CreateTreeRoot(Root(r.Id), name, QString::fromUtf8(r.Caption), r.ImageIndex);
}

TLineContext TNetwork::LineContext() {
  return {&line_, setup_ && setup_->Demo(), setup_ ? setup_->BaudRateIndex() : -1};
}

TFaults TNetwork::SetPortIndex(int index) {
  if (index < 0 || index > 7) return TFaults(kNoPort);
  TCustomComm* const port = line_.Port();
  if (index == setup_->PortIndex() && port && port->Connected()) return {};
  TFaults faults;
  try {
    // An exchange in flight ends on the old port, the next starts on the new.
    const auto lineLock = line_.Lock();
    if (!port) throw ECommError(QStringLiteral("Error accessing specified device"), -1);
    // The same port chosen again after its device went away is opened again; should that fail it
    // stays lost, so the exchanges keep trying it.
    const bool reopen = index == setup_->PortIndex() && port->Lost();
    if (!reopen) port->Close();
    port->SetDeviceName(QStringLiteral("COM%1").arg(index + 1));
    port->Open();
    DropModemLines(*port);
    if (!reopen && port->LossTold()) {
      // Another port instead of the lost one: that loss is over.
      port->SetLossTold(false);
      line_.Tell(QStringLiteral("Порт %1 открыт").arg(port->DeviceName()), false);
    }
    TellPortState(line_);
  } catch (const ECommError& e) {
    // A port the user may not open says why and what to do; any other failure keeps the short text.
    faults.Add(e.AccessDenied() ? e.Text() : kPortBusy);
  }
  setup_->SetPortIndex(index);
  return faults;
}

TFaults TNetwork::SetBaudRateIndex(int index) {
  TFaults faults;
  try {
    TCustomComm* const port = line_.Port();
    if (!port) throw ECommError(QStringLiteral("Port not open, unable to complete operation"), -1);
    if (const TLineSpeed* speed = LineSpeed(index)) port->SetBaudRate(speed->Rate);
    DropModemLines(*port);
  } catch (const ECommError&) {
    faults.Add(kNoSpeed);
  }
  setup_->SetBaudRateIndex(index);
  return faults;
}

void TNetwork::ReapRetired() {
  std::erase_if(retired_, [](const std::unique_ptr<TExecuter>& e) { return !e->InCall(); });
}

void TNetwork::StartPoller() {
  ReapRetired();
  StopPoller();
  executer_ = std::make_unique<TExecuter>(*this);
  executer_->Start();
  if (PollerState) PollerState(true);
}

void TNetwork::StopPoller() {
  if (executer_) {
    executer_->Terminate();
    if (executer_->InCall()) {
      // Stopped from inside its own call: joining here would wait for ourselves.
      retired_.push_back(std::move(executer_));
    } else {
      executer_->WaitFor();
      executer_->StoreFinishedRead();
      executer_.reset();
    }
    if (PollerState) PollerState(false);
  }
  ReapRetired();
}

void TNetwork::TerminatePoller() {
  if (executer_) executer_->Terminate();
}

void TNetwork::SuspendPoller() {
  if (executer_) executer_->Suspend();
}

void TNetwork::ResumePoller() {
  if (executer_) executer_->Resume();
}

bool TNetwork::PollerRunning() const {
  return executer_ && !executer_->Terminated();
}

const QString& TNetwork::PollerStateText() const {
  return PollerRunning() ? kStateWorking : kStateStopped;
}

}  // namespace vexa
