#include "reports/gui/ReportsUnit.h"

#include <QCoreApplication>
#include <QTreeWidget>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "core/Services.h"
#include "reports/gui/ReportPropertiesUnit.h"
#include "reports/model/ReportNode.h"
#include "reports/model/ReportTick.h"
#include "storage/Archives.h"
#include "storage/NetDescription.h"
#include "storage/TreeFiles.h"
#include "ui/config/RegisterPropertiesUnit.h"
#include "ui/parts/Session.h"
#include "ui/parts/Tell.h"

namespace vexa {

namespace {

TTemplatesWindowSetup ReportsSetup(TNetwork& network) {
  TTemplatesWindowSetup s;
  s.Caption = QStringLiteral("Шаблоны-Отчеты");
  s.Templates = &network.RTemplates();
  s.Items = &network.Reports();
  s.NewTemplateCaption = QStringLiteral("Шаблон отчета");
  s.TemplateImage = iiNEW;
  s.ItemsColumn = QStringLiteral("Записываются отчеты");
  s.TemplateMimeType = QString::fromLatin1(TReportsForm::kTemplateMimeType);
  s.HelpContext = TReportsForm::kHelpContext;
  return s;
}

// A report of the template's settings with a register node per template node, each holding as many
// samples as the report.
void CopyReport(TReportNode& copy, const TRootNode& source) {
  copy.Assign(source);
  for (int i = 0; i < source.NodeCount(); ++i) {
    auto* reg = new TRegisterNode(&copy);
    reg->Assign(*source.Node(i));
  }
}

}  // namespace

TReportsForm::TReportsForm(TNetwork& network, TSession* session, QWidget* parent)
    : TTemplatesWindow(network, ReportsSetup(network), session, parent) {
  setObjectName(QStringLiteral("ReportsForm"));
  previewAction_ = AddItemCommand(iiPRINT, QStringLiteral("Просмотр и печать отчета"), "previewAction");
  archiveAction_ =
      AddItemCommand(iiARCHIVES, QStringLiteral("Закончить и отправить в архив"), "archiveAction");
  connect(previewAction_, &QAction::triggered, this, &TReportsForm::PreviewClick);
  connect(archiveAction_, &QAction::triggered, this, &TReportsForm::ArchiveClick);
  connect(ListView(), &QTreeWidget::itemDoubleClicked, this, [this] { PreviewClick(); });
}

TReportsForm::~TReportsForm() = default;

TRootNode* TReportsForm::NewTemplateNode(TRootNode& owner) {
  return new TReportNode(&owner);
}

void TReportsForm::AddRegister(TRootNode& templ, const TRegisterNode& reg) {
  auto* node = new TRegisterNode(&templ);
  node->Assign(reg);
  node->SetCaption(NodeFullName(reg));
  node->SetImageIndex(iiREPORTN);
  node->ClearHistory();
}

QString TReportsForm::DuplicateText(const TRootNode& templ) const {
  return QStringLiteral("Этот регистр уже имеется\r\nв '") + templ.Caption() + QStringLiteral("'!");
}

std::unique_ptr<TRootNode> TReportsForm::MakeItem(const TRootNode& templ) {
  auto report = std::make_unique<TReportNode>(nullptr);
  CopyReport(*report, templ);
  report->SetImageIndex(iiSTOP);
  for (int i = 0; i < report->NodeCount(); ++i)
    if (auto* reg = dynamic_cast<TRegisterNode*>(report->Node(i))) reg->SetMaxCount(report->MaxCount());
  return report;
}

void TReportsForm::ChangeState(TRootNode& item, bool running) {
  auto* report = dynamic_cast<TReportNode*>(&item);
  if (report == nullptr) return;
  if (!running) {
    report->Stop();
  } else if (report->ImageIndex() == iiSTOP) {
    // A running report keeps its window; only a stopped one begins a new one.
    report->Reset();
    ShowFaults(report->StartReport());
  }
}

void TReportsForm::TemplateProperties(TRootNode& templ) {
  auto* report = dynamic_cast<TReportNode*>(&templ);
  if (report == nullptr || !NetworkOpen()) return;
  if (EditProperties) {
    EditProperties(*report);
    return;
  }
  TReportPropertiesForm* dialog = nullptr;
  if (Session() != nullptr)
    dialog = qobject_cast<TReportPropertiesForm*>(Session()->Window(TWindowRole::ReportProperties));
  if (dialog == nullptr) {
    if (ownReportDialog_ == nullptr) ownReportDialog_ = new TReportPropertiesForm(this);
    dialog = ownReportDialog_;
  }
  PlaceBeside(dialog);
  dialog->Execute(*report);
}

void TReportsForm::NodeProperties(TRootNode& node) {
  auto* reg = dynamic_cast<TRegisterNode*>(&node);
  if (reg == nullptr || !NetworkOpen()) return;
  TRegisterPropertiesForm* dialog = nullptr;
  if (Session() != nullptr)
    dialog = qobject_cast<TRegisterPropertiesForm*>(Session()->Window(TWindowRole::RegisterProperties));
  if (dialog == nullptr) {
    if (ownRegisterDialog_ == nullptr) ownRegisterDialog_ = new TRegisterPropertiesForm(Network(), this);
    dialog = ownRegisterDialog_;
  }
  PlaceBeside(dialog);
  // The polling page means nothing for a register of a report.
  dialog->ExecuteForPrinting(*reg);
}

TFaults TReportsForm::Tick() {
  TReportTickHooks hooks;
  hooks.ProcessEvents = [] { QCoreApplication::processEvents(); };
  hooks.ShowProgress = [this](TReportNode& report, int done) { ShowProgress(report, done); };
  hooks.ShowStopped = [this](TReportNode& report) { ShowImage(report, iiSTOP); };
  return ReportTick(Network(), hooks);
}

TReportNode* TReportsForm::SelectedReport() const {
  return dynamic_cast<TReportNode*>(SelectedItem());
}

void TReportsForm::PreviewClick() {
  TReportNode* report = SelectedReport();
  if (report == nullptr) {
    ShowMessage(QStringLiteral("Отчет не выбран!"), TMsgIcon::Warning);
    return;
  }
  // A snapshot: the report goes on logging, and may be destroyed, while the preview is open.
  TReportNode copy(nullptr);
  CopyReport(copy, *report);
  copy.SetImageIndex(iiPLAY);
  if (Preview) Preview(copy);
}

void TReportsForm::ArchiveClick() {
  TReportNode* report = SelectedReport();
  if (report == nullptr) return;
  if (!ArchiveReport(Network().Dir(), *report)) {
    ShowMessage(ArchiveFailedText(ArchiveName(report->Caption(), report->StartPoint())), TMsgIcon::Error);
    return;
  }
  DeleteItem(*report);
}

}  // namespace vexa
