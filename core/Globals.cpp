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

const std::vector<TRootInfo>& Roots() {
  static const std::vector<TRootInfo> roots = {
      {"NET", "Сеть", iiTREE, "Загрузка структуры сети...", true, &NET},
      {"TTEMPLATES", "Шаблоны процессов", iiCYCLOS, "Загрузка шаблонов процессов...", true, &TTEMPLATES},
      {"TASKS", "Процессы", iiNone, "Загрузка процессов...", true, &TASKS},
      {"RTEMPLATES", "Шаблоны отчетов", iiPROCESSES, "Загрузка шаблонов отчетов...", true, &RTEMPLATES},
      {"REPORTS", "Отчеты", iiNone, "Загрузка отчетов...", true, &REPORTS},
      // The channel templates have their own file, read when a search starts or their window opens.
      {"REGISTRY", "Шаблоны каналов", iiCHANNELS, nullptr, false, &REGISTRY},
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

std::unique_ptr<TRootNode>* RootSlot(const QString& name) {
  for (const TRootInfo& r : Roots())
    if (name == QLatin1String(r.Name)) return r.Slot;
  return nullptr;
}

void RecreateRoot(const QString& name) {
  for (const TRootInfo& r : Roots())
    if (name == QLatin1String(r.Name))
      CreateTreeRoot(*r.Slot, name, QString::fromUtf8(r.Caption), r.ImageIndex);
}

TLineContext ProgramLine() {
  return {Comm.get(), SETUP && SETUP->Demo(), SETUP ? SETUP->BaudRateIndex() : -1};
}

void CreateGlobals(std::unique_ptr<TCustomComm> comm) {
  for (const TRootInfo& r : Roots())
    CreateTreeRoot(*r.Slot, QString::fromLatin1(r.Name), QString::fromUtf8(r.Caption), r.ImageIndex);
  SETUP = std::make_unique<TSetupNode>(nullptr);
  Comm = std::move(comm);
}

void DestroyGlobals() {
  Comm.reset();
  SETUP.reset();
  for (auto it = Roots().rbegin(); it != Roots().rend(); ++it) it->Slot->reset();
}

}  // namespace vexa
