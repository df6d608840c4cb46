#pragma once
// TReportsForm: the report templates and reports window. Templates are built from registers dragged
// from the network structure window; a template dropped on the list becomes a report, which is
// started, stopped, previewed and sent to the archive there. The window's one-second timer runs the
// report tick from start-up to shutdown.

#include <QPointer>
#include <functional>

#include "reports/model/ReportTick.h"
#include "ui/model/TickRunner.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/TemplatesWindow.h"

namespace vexa {

class TNetwork;

class TRegisterPropertiesForm;
class TReportNode;
class TReportPropertiesForm;

class TReportsForm : public TTemplatesWindow {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcReports;
  // What a drag of a template from this window's tree carries.
  static constexpr const char* kTemplateMimeType = "application/x-vexa-report-template";

  explicit TReportsForm(TNetwork& network, TSession* session = nullptr, QWidget* parent = nullptr);
  ~TReportsForm() override;

  // Shows a snapshot of a report modally (the print preview); the report is destroyed afterwards.
  std::function<void(TReportNode&)> Preview;
  // Edits a template's report settings modally; true when they were written. Without it the main
  // window's report properties dialog (or the window's own) opens beside this window.
  std::function<bool(TReportNode&)> EditProperties;

  // The tick the program's runner runs this window's step on.
  static constexpr TTick kTick = TTick::Reports;
  TFaults Tick() override;

 protected:
  void AddRegister(TRootNode& templ, const TRegisterNode& reg) override;
  QString DuplicateText(const TRootNode& templ) const override;
  std::unique_ptr<TRootNode> MakeItem(const TRootNode& templ) override;
  void ChangeState(TRootNode& item, bool running) override;
  void TemplateProperties(TRootNode& templ) override;
  void NodeProperties(TRootNode& node) override;
  TRootNode* NewTemplateNode(TRootNode& owner) override;

 private:
  void PreviewClick();
  void ArchiveClick();
  TReportNode* SelectedReport() const;

  QAction* previewAction_ = nullptr;
  QAction* archiveAction_ = nullptr;
  QPointer<TReportPropertiesForm> ownReportDialog_;
  QPointer<TRegisterPropertiesForm> ownRegisterDialog_;
};

}  // namespace vexa
