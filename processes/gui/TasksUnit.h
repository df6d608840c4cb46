#pragma once
// TTasksForm: the process templates and processes window. Templates are built from registers
// dragged from the network structure window, each register's cyclogram edited in the cyclogram
// editor; a template dropped on the list becomes a process, which is started and stopped there and
// stepped every 10 seconds from start-up to shutdown.

#include <QPointer>

#include "ui/model/TickRunner.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/TemplatesWindow.h"

namespace vexa {

class TNetwork;

class TCycloEditForm;

class TTasksForm : public TTemplatesWindow {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcProcesses;
  // What a drag of a template from this window's tree carries.
  static constexpr const char* kTemplateMimeType = "application/x-vexa-process-template";

  explicit TTasksForm(TNetwork& network, TSession* session = nullptr, QWidget* parent = nullptr);
  ~TTasksForm() override;

  // The tick the program's runner runs this window's step on.
  static constexpr TTick kTick = TTick::Processes;
  TFaults Tick() override;

 protected:
  void AddRegister(TRootNode& templ, const TRegisterNode& reg) override;
  QString DuplicateText(const TRootNode& templ) const override;
  std::unique_ptr<TRootNode> MakeItem(const TRootNode& templ) override;
  void ChangeState(TRootNode& item, bool running) override;
  void TemplateProperties(TRootNode& templ) override;
  void NodeProperties(TRootNode& node) override;
  int ItemProgress(const TRootNode& process) const override;

 private:
  // The editor the command nodes open in: the main window's when it has one, else the window's own.
  TCycloEditForm* Editor();

  QPointer<TCycloEditForm> ownEditor_;
};

}  // namespace vexa
