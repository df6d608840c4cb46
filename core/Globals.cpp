#include "core/Globals.h"

namespace vexa {

std::unique_ptr<TRootNode> NET;
std::unique_ptr<TRootNode> TTEMPLATES;
std::unique_ptr<TRootNode> TASKS;
std::unique_ptr<TRootNode> RTEMPLATES;
std::unique_ptr<TRootNode> REPORTS;
std::unique_ptr<TRootNode> REGISTRY;
std::unique_ptr<TSetupNode> SETUP;
std::unique_ptr<TCustomComm> Comm;

namespace {
struct TRootDef {
  const char* Name;
  const char* Caption;
  int ImageIndex;
  std::unique_ptr<TRootNode>* Slot;
};
const TRootDef kRoots[] = {
    {"NET", "Сеть", 6, &NET},
    {"TTEMPLATES", "Шаблоны процессов", 18, &TTEMPLATES},
    {"TASKS", "Процессы", -1, &TASKS},
    {"RTEMPLATES", "Шаблоны отчетов", 10, &RTEMPLATES},
    {"REPORTS", "Отчеты", -1, &REPORTS},
    {"REGISTRY", "Шаблоны каналов", 38, &REGISTRY},
};
}  // namespace

void CreateTreeRoot(std::unique_ptr<TRootNode>& slot, const QString& name, const QString& caption,
                    int imageIndex) {
  slot.reset();
  slot = std::make_unique<TRootNode>(nullptr);
  slot->SetCaption(caption);
  slot->SetName(name);
  slot->SetImageIndex(imageIndex);
}

std::unique_ptr<TRootNode>* RootSlot(const QString& name) {
  for (const TRootDef& r : kRoots)
    if (name == QLatin1String(r.Name)) return r.Slot;
  return nullptr;
}

void RecreateRoot(const QString& name) {
  for (const TRootDef& r : kRoots)
    if (name == QLatin1String(r.Name))
      CreateTreeRoot(*r.Slot, name, QString::fromUtf8(r.Caption), r.ImageIndex);
}

TLineContext ProgramLine() {
  return {Comm.get(), SETUP && SETUP->Demo(), SETUP ? SETUP->BaudRateIndex() : -1};
}

void CreateGlobals(std::unique_ptr<TCustomComm> comm) {
  for (const TRootDef& r : kRoots)
    CreateTreeRoot(*r.Slot, QString::fromLatin1(r.Name), QString::fromUtf8(r.Caption), r.ImageIndex);
  SETUP = std::make_unique<TSetupNode>(nullptr);
  Comm = std::move(comm);
}

void DestroyGlobals() {
  Comm.reset();
  SETUP.reset();
  for (auto it = std::rbegin(kRoots); it != std::rend(kRoots); ++it) it->Slot->reset();
}

}  // namespace vexa
