#include "storage/DeviceSearch.h"

#include <QScopeGuard>
#include <algorithm>
#include <memory>

#include "core/ExecuterUnit.h"
#include "core/Globals.h"
#include "core/ImageIndex.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
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

const TRootNode* FindTemplate(int type) {
  if (!REGISTRY) return nullptr;
  const QString caption = Digits3(type);
  for (int i = 0; i < REGISTRY->NodeCount(); ++i)
    if (REGISTRY->Node(i)->Caption() == caption) return REGISTRY->Node(i);
  return nullptr;
}

}  // namespace

int TDeviceSearch::ProbeChannel(int address, int channel) {
  TRegisterNode probe(nullptr);
  probe.SetName(TCustomRegister::RegisterName(address, channel, 0));
  const auto type = StrToInt(probe.StringData());
  return type ? static_cast<int>(*type) : -1;
}

TRegisterType TDeviceSearch::ProbeRegister(int address, int channel, int reg) {
  TRegisterNode probe(nullptr);
  probe.SetName(TCustomRegister::RegisterName(address, channel, reg));
  probe.StringData();
  return probe.RegisterType();
}

void TDeviceSearch::Run(TSearchMode mode) {
  if (running_) {
    Stop();
    return;
  }
  running_ = true;
  stopRequested_ = false;
  // The search replaces or shrinks the tree a poller walks; none may run meanwhile.
  const bool pollerWasRunning = PollerRunning();
  if (pollerWasRunning) StopPoller();
  if (OnBeforeChange) OnBeforeChange();

  // Also after a failure: the trees may already differ from their files.
  const auto finish = qScopeGuard([&] {
    running_ = false;
    stopRequested_ = false;
    if (SETUP) SETUP->SetNewConfig(true);
    if (OnAfterChange) OnAfterChange();
    if (pollerWasRunning) StartPoller();
  });
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
}

void TDeviceSearch::Afresh() {
  RecreateRoot(QStringLiteral("NET"));
  RecreateRoot(QStringLiteral("TASKS"));
  RecreateRoot(QStringLiteral("REPORTS"));
  ForEachAddress([this](int a) {
    if (ProbeChannel(a, 0) != -1) BuildRegulator(a);
  });
}

void TDeviceSearch::Added() {
  ForEachAddress([this](int a) {
    if (FindNode(NET.get(), RegulatorName(a)) == nullptr && ProbeChannel(a, 0) != -1) BuildRegulator(a);
  });
}

void TDeviceSearch::Removed() {
  ForEachAddress([this](int a) {
    TComponent* regulator = FindNode(NET.get(), RegulatorName(a));
    if (regulator == nullptr || ProbeChannel(a, 0) != -1) return;
    regulator->Owner()->RemoveComponent(regulator).reset();  // with its whole subtree
    SetDevicesFound(devicesFound_ + 1);
  });
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

void TDeviceSearch::BuildRegulator(int address) {
  SetDevicesFound(devicesFound_ + 1);
  auto node = std::make_unique<TRootNode>(nullptr);
  node->SetName(RegulatorName(address));
  node->SetCaption(QStringLiteral("Регулятор ") + Digits3(address));
  node->SetComments(QStringLiteral("Сетевой адрес ") + Digits3(address));
  node->SetImageIndex(iiREGULATOR);
  TRootNode* regulator = Adopt(*NET, std::move(node));
  for (int c = 0; c < kChannelCount; ++c) {
    const int type = ProbeChannel(address, c);
    if (type == -1) break;
    BuildChannel(*regulator, address, c, type);
  }
}

void TDeviceSearch::BuildChannel(TRootNode& regulator, int address, int c, int type) {
  auto node = std::make_unique<TRootNode>(nullptr);
  node->SetName(regulator.Name() + QStringLiteral("C") + Digits3(c));
  node->SetCaption(QStringLiteral("Канал ") + Digits3(c));
  node->SetComments(kUnknownChannelType);
  node->SetImageIndex(iiCHANNEL);
  TRootNode* channel = Adopt(regulator, std::move(node));

  if (const TRootNode* pattern = FindTemplate(type)) {
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
    if (ProbeRegister(address, c, r) == rtUnknown) break;
    auto node = std::make_unique<TRegisterNode>(nullptr);
    node->SetName(TCustomRegister::RegisterName(address, c, r));
    node->SetCaption(QStringLiteral("Регистр ") + Digits3(r));
    node->SetImageIndex(iiREGISTER);
    if (r == 0) node->SetVisible(false);
    Adopt(*channel, std::move(node))->StringData();
  }
}

void TDeviceSearch::ReloadTemplates() {
  RecreateRoot(QStringLiteral("REGISTRY"));
  LoadTreeFile(REGISTRY);
}

void TDeviceSearch::SetDevicesFound(int value) {
  devicesFound_ = value;
  if (OnDevicesFound) OnDevicesFound(value);
}

void TDeviceSearch::SetDevicesPassed(int value) {
  devicesPassed_ = value;
  if (OnDevicesPassed) OnDevicesPassed(value);
}

bool TDeviceSearch::Continue() {
  if (OnIdle) OnIdle();
  return !stopRequested_;
}

}  // namespace vexa
