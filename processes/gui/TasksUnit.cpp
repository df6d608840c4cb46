#include "processes/gui/TasksUnit.h"

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "processes/gui/CycloEditUnit.h"
#include "processes/model/CommandNode.h"
#include "processes/model/ProcessTick.h"
#include "storage/NetDescription.h"
#include "ui/parts/Session.h"

namespace vexa {

namespace {

TTemplatesWindowSetup ProcessesSetup(TNetwork& network) {
  TTemplatesWindowSetup s;
  s.Caption = QStringLiteral("Шаблоны-Процессы");
  s.Templates = &network.TTemplates();
  s.Items = &network.Tasks();
  s.NewTemplateCaption = QStringLiteral("Шаблон процесса");
  s.TemplateImage = iiCYCLO;
  s.ItemsColumn = QStringLiteral("Исполняются процессы");
  s.TemplateMimeType = QString::fromLatin1(TTasksForm::kTemplateMimeType);
  s.HelpContext = TTasksForm::kHelpContext;
  return s;
}

}  // namespace

TTasksForm::TTasksForm(TNetwork& network, TSession* session, QWidget* parent)
    : TTemplatesWindow(network, ProcessesSetup(network), session, parent) {
  setObjectName(QStringLiteral("TasksForm"));
}

TTasksForm::~TTasksForm() = default;

TCycloEditForm* TTasksForm::Editor() {
  if (Session() != nullptr)
    if (auto* shared = qobject_cast<TCycloEditForm*>(Session()->Window(TWindowRole::CycloEdit)))
      return shared;
  if (ownEditor_ == nullptr) ownEditor_ = new TCycloEditForm(Network(), Session(), this);
  return ownEditor_;
}

void TTasksForm::AddRegister(TRootNode& templ, const TRegisterNode& reg) {
  auto* node = new TCommandNode(&templ);
  node->Assign(reg);
  node->SetCaption(NodeFullName(reg));
  node->SetImageIndex(iiTABLE);
  // The register's history is no cyclogram.
  node->SetDataList(QStringList());
  node->SetPoints(QStringList());
}

QString TTasksForm::DuplicateText(const TRootNode& templ) const {
  return QStringLiteral("Циклограмма для этого регистра\r\nуже имеется в '") + templ.Caption() +
         QStringLiteral("'!");
}

std::unique_ptr<TRootNode> TTasksForm::MakeItem(const TRootNode& templ) {
  auto process = std::make_unique<TRootNode>(nullptr);
  process->Assign(templ);
  process->SetImageIndex(iiSTOP);
  for (int i = 0; i < templ.NodeCount(); ++i) {
    auto* node = new TCommandNode(process.get());
    node->Assign(*templ.Node(i));
    node->Reset();
  }
  return process;
}

void TTasksForm::ChangeState(TRootNode& item, bool running) {
  item.SetEnabled(running);
  for (int i = 0; i < item.NodeCount(); ++i)
    if (auto* node = dynamic_cast<TCommandNode*>(item.Node(i))) {
      if (running)
        node->Start();
      else
        node->Stop();
    }
}

void TTasksForm::TemplateProperties(TRootNode& templ) {
  ShowNodeDialog(templ, !NetworkOpen());
}

void TTasksForm::NodeProperties(TRootNode& node) {
  auto* command = dynamic_cast<TCommandNode*>(&node);
  if (command == nullptr || !NetworkOpen()) return;
  TCycloEditForm* editor = Editor();
  editor->SetNode(command);
  if (Session() != nullptr)
    Session()->ShowModalNearPage(editor, 24, 24);
  else
    editor->exec();
}

TFaults TTasksForm::Tick() {
  TProcessTickHooks hooks;
  hooks.ShowProgress = [this](TRootNode& process, int done) { ShowProgress(process, done); };
  hooks.ShowStopped = [this](TRootNode& process) { ShowImage(process, iiSTOP); };
  return ProcessTick(Network(), hooks);
}

int TTasksForm::ItemProgress(const TRootNode& process) const {
  return ProcessProgress(process);
}

}  // namespace vexa
