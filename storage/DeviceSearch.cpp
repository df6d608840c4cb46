#include "storage/DeviceSearch.h"

#include <QScopeGuard>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <stdexcept>
#include <utility>

#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "core/SimulatedNetwork.h"
#include "storage/TreeFiles.h"

namespace vexa {

namespace {

constexpr int kChannelCount = 256;
constexpr int kRegisterCount = 256;  // one byte on the wire

const QString kUnknownChannelType = QStringLiteral("Тип канала неизвестен.");

// At least three digits, as "%0.3d" writes them: 7 gives 007, -5 gives -005.
QString Digits3(int value) {
  return QString::asprintf("%.3d", value);
}

QString RegulatorName(int address) {
  return QStringLiteral("D") + Digits3(address);
}

// Names and inserts a configured ownerless node; the pointer stays valid while owner lives.
template <class T>
T* Adopt(TComponent& owner, std::unique_ptr<T> node) {
  T* raw = node.get();
  owner.InsertComponent(std::move(node));
  return raw;
}

// A port error met by a probe: it ends the search, which then puts the trees back.
class EPortFailed : public std::runtime_error {
 public:
  explicit EPortFailed(QString text) : std::runtime_error("port error"), Text(std::move(text)) {}
  QString Text;
};

// What a terminal's error code means to the operator.
QString PortFault(int code) {
  switch (code) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EBADF:
      return QStringLiteral("устройство отключено");
    default:
      return QStringLiteral("ошибка порта (код %1)").arg(code);
  }
}

// The roots a search replaces, kept aside until it has ended: put back after a port error,
// destroyed with this object otherwise.
class TKeptRoots {
 public:
  explicit TKeptRoots(TNetwork& network) : network_(&network) {}
  void Replace(const QString& name) {
    std::unique_ptr<TRootNode>* slot = network_->RootSlot(name);
    kept_.emplace_back(slot, std::move(*slot));
    network_->RecreateRoot(name);
  }
  void Drop() { kept_.clear(); }
  void PutBack() {
    for (size_t i = kept_.size(); i-- > 0;) *kept_[i].first = std::move(kept_[i].second);
    kept_.clear();
  }

 private:
  TNetwork* network_;
  std::vector<std::pair<std::unique_ptr<TRootNode>*, std::unique_ptr<TRootNode>>> kept_;
};

// A regulator's node as a search makes it, without its channels.
std::unique_ptr<TRootNode> NewRegulatorNode(int address) {
  auto node = std::make_unique<TRootNode>(nullptr);
  node->SetName(RegulatorName(address));
  node->SetCaption(QStringLiteral("Регулятор ") + Digits3(address));
  node->SetComments(QStringLiteral("Сетевой адрес ") + Digits3(address));
  node->SetImageIndex(iiREGULATOR);
  return node;
}

// A channel's node as a search makes it, without its registers, its type not known yet.
std::unique_ptr<TRootNode> NewChannelNode(const TRootNode& regulator, int channel) {
  auto node = std::make_unique<TRootNode>(nullptr);
  node->SetName(regulator.Name() + QStringLiteral("C") + Digits3(channel));
  node->SetCaption(QStringLiteral("Канал ") + Digits3(channel));
  node->SetComments(kUnknownChannelType);
  node->SetImageIndex(iiCHANNEL);
  return node;
}

const TRootNode* FindTemplate(const std::unique_ptr<TRootNode>& registry, int type) {
  if (!registry) return nullptr;
  const QString caption = Digits3(type);
  for (int i = 0; i < registry->NodeCount(); ++i)
    if (registry->Node(i)->Caption() == caption) return registry->Node(i);
  return nullptr;
}

}  // namespace

void BuildSimulatedNet(TRootNode& net) {
  for (const TSimRegulator& sim : SimulatedRegulators()) {
    TRootNode* regulator = Adopt(net, NewRegulatorNode(sim.Address));
    for (int c = 0; c < static_cast<int>(sim.ChannelTypes.size()); ++c) {
      const TSimChannelDef def = SimulatedChannel(sim.ChannelTypes[c]);
      TRootNode* channel = Adopt(*regulator, NewChannelNode(*regulator, c));
      channel->SetComments(QString::fromUtf8(def.Comments));
      for (const TSimRegisterDef& row : def) {
        auto reg = std::make_unique<TRegisterNode>(nullptr);
        reg->SetName(TCustomRegister::RegisterName(sim.Address, c, row.Register));
        ApplySimulatedRegister(*reg, row);
        reg->SetImageIndex(iiREGISTER);
        Adopt(*channel, std::move(reg));
      }
    }
  }
}

QString PartialAnswerText(int address) {
  return QStringLiteral("Регулятор %1 ответил не на все запросы: поиск стоит повторить")
      .arg(Digits3(address));
}

QStringList SearchReport(const TSearchResult& r) {
  if (r.PortError)
    return {QStringLiteral("Поиск прерван: %1.").arg(r.PortErrorText), QStringLiteral("Сеть не изменена.")};
  QStringList lines;
  if (r.Stopped) lines << QStringLiteral("Поиск остановлен оператором.");
  if (r.Mode == smRemoved) {
    lines << QStringLiteral("Удалено регуляторов: %1.").arg(r.Regulators);
    if (r.Kept > 0)
      lines << QStringLiteral("Ни один регулятор не ответил; оставлено в сети без ответа: %1.").arg(r.Kept);
  } else {
    lines << QStringLiteral("Найдено регуляторов: %1, каналов: %2.").arg(r.Regulators).arg(r.Channels);
  }
  lines << QStringLiteral("Запросов без ответа после всех попыток: %1.").arg(r.Failed)
        << QStringLiteral("Запросов с ответом только после повтора: %1.").arg(r.Retried);
  for (int address : r.Partial) lines << PartialAnswerText(address) + QLatin1Char('.');
  return lines;
}

// The state of one search while it runs.
struct TDeviceSearch::TRun {
  explicit TRun(TNetwork& network) : Kept(network) {}
  TSearchResult Result;
  TLineContext Line;
  TCustomComm* ProgramPort = nullptr;
  TKeptRoots Kept;
  std::vector<QString> Added;  // regulators appended by the added mode
};

int TDeviceSearch::ProbeChannel(const TLineContext& line, int address, int channel) {
  TRegisterNode probe(nullptr);
  probe.SetName(TCustomRegister::RegisterName(address, channel, 0));
  const auto type = StrToInt(probe.StringData(line));
  return type ? static_cast<int>(*type) : -1;
}

TRegisterType TDeviceSearch::ProbeRegister(const TLineContext& line, int address, int channel, int reg) {
  TRegisterNode probe(nullptr);
  probe.SetName(TCustomRegister::RegisterName(address, channel, reg));
  probe.StringData(line);
  return probe.RegisterType();
}

std::unique_ptr<TRootNode>& TDeviceSearch::Net() const {
  return network_.Net();
}

TSearchResult TDeviceSearch::Run(TSearchMode mode) {
  if (running_) {
    Stop();
    return {};
  }
  TRun run(network_);
  run.Result.Mode = mode;
  run.Line = network_.LineContext();
  run.ProgramPort = network_.Line().Port();
  running_ = true;
  stopRequested_ = false;
  run_ = &run;
  // The search replaces or shrinks the tree a poller walks; none may run meanwhile.
  const bool pollerWasRunning = network_.PollerRunning();
  if (pollerWasRunning) network_.StopPoller();
  if (OnBeforeChange) OnBeforeChange();

  // Also after a failure: the trees may already differ from their files.
  const auto finish = qScopeGuard([&] {
    if (run.Result.PortError) {
      run.Kept.PutBack();
    } else {
      run.Kept.Drop();  // the replaced trees go, with every label and item of theirs
      if (network_.Setup()) network_.Setup()->SetNewConfig(true);
    }
    run_ = nullptr;
    running_ = false;
    stopRequested_ = false;
    if (OnAfterChange) OnAfterChange();
    if (pollerWasRunning) network_.StartPoller();
  });
  try {
    // A port never opened would fail every exchange at once: nothing is touched. A lost one may
    // come back with the first exchange.
    if (!run.Line.Simulation &&
        (run.ProgramPort == nullptr || (!run.ProgramPort->Connected() && !run.ProgramPort->Lost())))
      CheckPort();
    switch (mode) {
      case smAfresh:
        Afresh();
        break;
      case smAdded:
        Added();
        break;
      case smRemoved:
        Removed();
        break;
    }
  } catch (const EPortFailed& e) {
    run.Result.PortError = true;
    run.Result.PortErrorText = e.Text;
    // What the added mode appended goes; the replaced roots come back in the clean-up.
    for (const QString& name : run.Added)
      if (TComponent* regulator = Net() ? Net()->FindComponent(name) : nullptr)
        Net()->RemoveComponent(regulator).reset();
    SetDevicesFound(0);
  }
  return run.Result;
}

void TDeviceSearch::Afresh() {
  run_->Kept.Replace(QStringLiteral("NET"));
  run_->Kept.Replace(QStringLiteral("TASKS"));
  run_->Kept.Replace(QStringLiteral("REPORTS"));
  ForEachAddress([this](int a) {
    if (ProbeChannelOf(a, 0, false) != -1) BuildRegulator(*Net(), a);
  });
}

void TDeviceSearch::Added() {
  ForEachAddress([this](int a) {
    if (FindNode(Net().get(), RegulatorName(a)) != nullptr || ProbeChannelOf(a, 0, false) == -1) return;
    BuildRegulator(*Net(), a);
    run_->Added.push_back(RegulatorName(a));
  });
}

void TDeviceSearch::Removed() {
  // Decided once the addresses are passed: a regulator is removed for its silence only when the
  // line showed itself alive, or the operator confirms.
  std::vector<QString> silent;
  bool anyAnswered = false;
  ForEachAddress([&](int a) {
    if (FindNode(Net().get(), RegulatorName(a)) == nullptr) return;
    if (ProbeChannelOf(a, 0, false) != -1)
      anyAnswered = true;
    else
      silent.push_back(RegulatorName(a));
  });
  if (silent.empty()) return;
  const int count = static_cast<int>(silent.size());
  if (!anyAnswered && !(ConfirmRemoval && ConfirmRemoval(count))) {
    run_->Result.Kept = count;
    return;
  }
  for (const QString& name : silent) {
    if (TComponent* regulator = FindNode(Net().get(), name))
      regulator->Owner()->RemoveComponent(regulator).reset();  // with its whole subtree
    SetDevicesFound(devicesFound_ + 1);
  }
}

void TDeviceSearch::ForEachAddress(const std::function<void(int)>& visit) {
  SetDevicesFound(0);
  SetDevicesPassed(0);
  ReloadTemplates();
  for (int a = 0; a < kAddressCount; ++a) {
    if (!Continue()) return;
    SetDevicesPassed(a);
    visit(a);
  }
}

void TDeviceSearch::BuildRegulator(TRootNode& net, int address) {
  SetDevicesFound(devicesFound_ + 1);
  TRootNode* regulator = Adopt(net, NewRegulatorNode(address));
  for (int c = 0; c < kChannelCount; ++c) {
    // Channel 0 has just answered: its silence now is a lost answer, a later one the list's end.
    const int type = ProbeChannelOf(address, c, c == 0);
    if (type == -1) break;
    ++run_->Result.Channels;
    BuildChannel(*regulator, address, c, type);
  }
}

void TDeviceSearch::BuildChannel(TRootNode& regulator, int address, int c, int type) {
  TRootNode* channel = Adopt(regulator, NewChannelNode(regulator, c));

  if (const TRootNode* pattern = FindTemplate(network_.Registry(), type)) {
    channel->SetComments(pattern->Comments());
    const int count = std::min(pattern->NodeCount(), kRegisterCount);
    for (int k = 0; k < count; ++k) {
      auto reg = std::make_unique<TRegisterNode>(nullptr);
      reg->Assign(*pattern->Node(k));  // also copies the template's own name, replaced below
      reg->SetName(channel->Name() + QStringLiteral("R") + Digits3(k));
      reg->SetImageIndex(iiREGISTER);
      if (k == 0) reg->SetVisible(false);
      Adopt(*channel, std::move(reg));
    }
    return;
  }

  for (int r = 0; r < kRegisterCount; ++r) {
    if (OnProbe) OnProbe(address, c, r);
    TRegisterNode probe(nullptr);
    probe.SetName(TCustomRegister::RegisterName(address, c, r));
    // Register 0 answered as the channel's identifier a moment ago.
    Exchange(probe, address, r == 0);
    if (probe.RegisterType() == rtUnknown) break;
    auto node = std::make_unique<TRegisterNode>(nullptr);
    node->SetName(TCustomRegister::RegisterName(address, c, r));
    node->SetCaption(QStringLiteral("Регистр ") + Digits3(r));
    node->SetImageIndex(iiREGISTER);
    if (r == 0) node->SetVisible(false);
    Exchange(*Adopt(*channel, std::move(node)), address, true);  // it has just answered
  }
}

bool TDeviceSearch::Exchange(TRegisterNode& reg, int address, bool expected) {
  const uint64_t before = network_.Line().Writes();
  try {
    reg.StringData(run_->Line);
  } catch (const ECommError& e) {
    const QString name = run_->ProgramPort ? run_->ProgramPort->DeviceName() : QString();
    throw EPortFailed(QStringLiteral("порт %1: %2").arg(name, PortFault(e.ErrorCode())));
  }
  const bool answered = reg.LastIOResult() == iorOK;
  if (!answered) CheckPort();
  // The simulator answers at once: one request.
  const uint64_t attempts = run_->Line.Simulation ? 1 : network_.Line().Writes() - before;
  // A repeated request that was answered lost nothing: only an unanswered one makes the
  // regulator's answer partial, so the count and the warning never disagree.
  if (answered && attempts > 1) {
    ++run_->Result.Retried;
  } else if (!answered && expected) {
    ++run_->Result.Failed;
    MarkPartial(address);
  }
  return answered;
}

int TDeviceSearch::ProbeChannelOf(int address, int channel, bool expected) {
  TRegisterNode probe(nullptr);
  probe.SetName(TCustomRegister::RegisterName(address, channel, 0));
  if (!Exchange(probe, address, expected)) return -1;
  const auto type = StrToInt(probe.LastStringData());
  return type ? static_cast<int>(*type) : -1;
}

void TDeviceSearch::CheckPort() const {
  if (run_->Line.Simulation) return;
  TCustomComm* port = run_->ProgramPort;
  const QString name = port ? port->DeviceName() : QString();
  if (port == nullptr) throw EPortFailed(QStringLiteral("порт не выбран"));
  if (port->Lost()) throw EPortFailed(QStringLiteral("порт %1 потерян: устройство отключено").arg(name));
  if (!port->Connected()) throw EPortFailed(QStringLiteral("порт %1 не открыт").arg(name));
  // An unanswered request may hide a device that went away: a hung-up terminal fails here.
  try {
    const auto lineLock = network_.Line().Lock();
    port->InQueCount();
  } catch (const ECommError& e) {
    throw EPortFailed(QStringLiteral("порт %1: %2").arg(name, PortFault(e.ErrorCode())));
  }
}

void TDeviceSearch::MarkPartial(int address) {
  std::vector<int>& partial = run_->Result.Partial;
  if (std::find(partial.begin(), partial.end(), address) == partial.end()) partial.push_back(address);
}

void TDeviceSearch::ReloadTemplates() {
  run_->Kept.Replace(QStringLiteral("REGISTRY"));  // unsaved edits come back after a port error
  LoadTreeFile(network_, network_.Registry());
}

void TDeviceSearch::SetDevicesFound(int value) {
  devicesFound_ = value;
  if (run_) run_->Result.Regulators = value;
  if (OnDevicesFound) OnDevicesFound(value);
}

void TDeviceSearch::SetDevicesPassed(int value) {
  devicesPassed_ = value;
  if (OnDevicesPassed) OnDevicesPassed(value);
}

bool TDeviceSearch::Continue() {
  if (OnIdle) OnIdle();
  if (stopRequested_) run_->Result.Stopped = true;
  return !stopRequested_;
}

}  // namespace vexa
