#include "reports/gui/PrintPreviewUnit.h"

#include <QButtonGroup>
#include <QCursor>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "core/RegisterNode.h"
#include "core/Services.h"
#include "reports/model/HistoryReport.h"
#include "reports/model/ReportNode.h"
#include "ui/model/LabelDisplay.h"
#include "ui/parts/FileDialogs.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/NodeViews.h"
#include "ui/parts/Tell.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

namespace {

// What the print preview has to show: a register with at least one sample first.
bool HasSamples(const TReportNode* report) {
  if (report == nullptr) return false;
  const std::vector<const TRegisterNode*> regs = ReportRegisters(*report);
  return !regs.empty() && !regs.front()->Points().isEmpty();
}

}  // namespace

// The page image: the screen's page drawn at its size; the left button zooms in, the right out.
class TPageImage : public QWidget {
 public:
  explicit TPageImage(TPrintPreviewForm* form, QWidget* parent) : QWidget(parent), form_(form) {
    setObjectName(QStringLiteral("pageImage"));
    setCursor(QCursor(ImagePixmap(iiZOOMIN)));
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    if (form_->paper_) {
      form_->paper_->View = form_->View();
      form_->paper_->DrawScreen(painter, size(), palette().color(QPalette::Base));
    } else {
      painter.fillRect(rect(), palette().color(QPalette::Base));
    }
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) form_->ZoomIn(event->position().toPoint());
    if (event->button() == Qt::RightButton) form_->ZoomOut(event->position().toPoint());
  }

 private:
  TPrintPreviewForm* form_;
};

TPrintPreviewForm::TPrintPreviewForm(TSession* session, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("PrintPreviewForm"));
  setWindowTitle(kCaption);
  setWindowIcon(ImageIcon(iiPRINT));
  setWindowFlag(Qt::WindowMaximizeButtonHint, true);
  setSizeGripEnabled(true);
  setMinimumSize(kMinSize, kMinSize);
  resize(kWidth, kHeight);
  toolCount_ = new TToolWindowCount(this, session);  // owned by the window
  InstallHelpShortcut(this, kHelpContext);
  AskPdfPath = [this] { return AskPdfPathDialog(); };

  sbPage_ = new QScrollArea(this);
  sbPage_->setObjectName(QStringLiteral("scrollBox"));
  sbPage_->setBackgroundRole(QPalette::Dark);  // the application workspace
  sbPage_->setWidgetResizable(false);
  sheet_ = new QWidget;
  sbPage_->setWidget(sheet_);
  sheet_->setAutoFillBackground(false);
  pbPage_ = new TPageImage(this, sheet_);
  pbPage_->move(kImageMargin, kImageMargin);
  sbPage_->installEventFilter(this);

  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFixedWidth(kPanelWidth);
  // The panel's texts were set for a narrower system font: one point less keeps them whole.
  QFont small = panel->font();
  small.setPointSizeF(std::max(7.0, small.pointSizeF() - 1));
  panel->setFont(small);

  auto* gbAxis = new QGroupBox(QStringLiteral("Ось времени"), panel);
  gbAxis->setObjectName(QStringLiteral("gbAxis"));
  auto* axisLayout = new QFormLayout(gbAxis);
  axisLayout->setContentsMargins(4, 4, 4, 4);
  const auto field = [&](const char* name, const QString& caption) {
    auto* edit = new QLineEdit(gbAxis);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setReadOnly(true);
    edit->setBackgroundRole(QPalette::Base);
    axisLayout->addRow(caption, edit);
    return edit;
  };
  edDate_ = field("dateField", QStringLiteral("Дата:"));
  edTime_ = field("timeField", QStringLiteral("Время:"));
  edNotch_ = field("notchField", QStringLiteral("Метки:"));

  const auto radioGroup = [&](const char* name, const QString& caption, const QString& first,
                              const QString& second, QRadioButton*& a, QRadioButton*& b) {
    auto* box = new QGroupBox(caption, panel);
    box->setObjectName(QString::fromLatin1(name));
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(2, 2, 0, 2);
    layout->setSpacing(0);
    a = new QRadioButton(first, box);
    b = new QRadioButton(second, box);
    a->setChecked(true);
    layout->addWidget(a);
    layout->addWidget(b);
    auto* group = new QButtonGroup(box);
    group->addButton(a);
    group->addButton(b);
    return box;
  };
  QGroupBox* rgView = radioGroup("rgView", QStringLiteral("Вид"), QStringLiteral("График"),
                                 QStringLiteral("Таблица (1-й лист)"), rbGraph_, rbTable_);
  QGroupBox* rgOrientation =
      radioGroup("rgOrientation", QStringLiteral("Ориентация бумаги"), QStringLiteral("Горизонтальная"),
                 QStringLiteral("Вертикальная"), rbLandscape_, rbPortrait_);
  rbGraph_->setObjectName(QStringLiteral("graphButton"));
  rbTable_->setObjectName(QStringLiteral("tableButton"));
  rbLandscape_->setObjectName(QStringLiteral("landscapeButton"));
  rbPortrait_->setObjectName(QStringLiteral("portraitButton"));

  tvReport_ = new QTreeWidget(panel);
  tvReport_->setObjectName(QStringLiteral("reportTree"));
  tvReport_->setHeaderHidden(true);
  tvReport_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvReport_->setExpandsOnDoubleClick(false);

  btPrint_ = new QPushButton(QStringLiteral("Печать"), panel);
  btPrint_->setObjectName(QStringLiteral("printButton"));
  btPrint_->setIcon(ImageIcon(iiPRINT));
  btPrint_->setDefault(true);
  btPrint_->setAutoDefault(true);

  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  panelLayout->setSpacing(4);
  panelLayout->addWidget(gbAxis);
  panelLayout->addWidget(rgView);
  panelLayout->addWidget(rgOrientation);
  panelLayout->addWidget(tvReport_, 1);
  panelLayout->addWidget(btPrint_);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(sbPage_, 1);
  layout->addWidget(panel);

  connect(rbGraph_, &QRadioButton::toggled, this, [this] { pbPage_->update(); });
  connect(rbLandscape_, &QRadioButton::toggled, this, [this] {
    Relayout();
    Fit();
  });
  connect(tvReport_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { TreeDoubleClicked(item); });
  connect(btPrint_, &QPushButton::clicked, this, [this] { PrintClick(); });
}

TPrintPreviewForm::~TPrintPreviewForm() = default;

void TPrintPreviewForm::SetSession(TSession* session) {
  toolCount_->SetSession(session);
}

void TPrintPreviewForm::SetReport(TReportNode* report) {
  report_ = report;
}

TPrintView TPrintPreviewForm::View() const {
  return rbTable_->isChecked() ? TPrintView::Table : TPrintView::Graph;
}

QPageLayout::Orientation TPrintPreviewForm::Orientation() const {
  return rbPortrait_->isChecked() ? QPageLayout::Portrait : QPageLayout::Landscape;
}

QSize TPrintPreviewForm::FitArea() const {
  // The client area without scroll bars: the image is fitted as if none were shown.
  return sbPage_->contentsRect().size() - QSize(2 * kImageMargin, 2 * kImageMargin);
}

bool TPrintPreviewForm::Execute() {
  if (!HasSamples(report_)) {
    ShowMessage(kEmptyReport, TMsgIcon::Information);
    report_ = nullptr;
    return false;
  }
  printer_ = MakePrinter();
  paper_ = std::make_unique<TReportPaper>(*report_);
  const TTimeAxis axis(*report_);
  edDate_->setText(DateText(axis.StartDate));
  edTime_->setText(TimeText(axis.StartTime));
  edNotch_->setText(TimeText(axis.XNotch));
  Relayout();
  BuildTreeView(tvReport_, report_);
  if (const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  Fit();
  exec();
  Forget();
  return true;
}

void TPrintPreviewForm::Forget() {
  BuildTreeView(tvReport_, nullptr);
  paper_.reset();
  printer_.reset();
  report_ = nullptr;
}

std::unique_ptr<QPrinter> TPrintPreviewForm::MakePrinter() {
  const QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (!info.isNull()) return std::make_unique<QPrinter>(info, QPrinter::HighResolution);
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  printer->setPageSize(QPageSize(QPageSize::A4));
  return printer;
}

QString TPrintPreviewForm::AskPdfPathDialog() {
  if (pdfFolder_.isEmpty()) pdfFolder_ = QDir::homePath();
  QFileDialog dialog(this, QStringLiteral("Печать в файл PDF"), pdfFolder_);
  PrepareFileDialog(dialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters({QStringLiteral("Файлы PDF (*.pdf)"), QStringLiteral("Все файлы (*.*)")});
  dialog.setDefaultSuffix(QStringLiteral("pdf"));
  if (report_ != nullptr) dialog.selectFile(report_->Caption() + QStringLiteral(".pdf"));
  const bool accepted = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  pdfFolder_ = dialog.directory().absolutePath();
  return accepted ? dialog.selectedFiles().constFirst() : QString();
}

void TPrintPreviewForm::Relayout() {
  if (!paper_ || !printer_) return;
  paper_->Layout(*printer_, Orientation());
  pbPage_->update();
}

void TPrintPreviewForm::SetImageSize(QSize size) {
  pbPage_->resize(size);
  sheet_->resize(size + QSize(2 * kImageMargin, 2 * kImageMargin));
  pbPage_->update();
}

void TPrintPreviewForm::Fit() {
  if (!paper_) return;
  SetImageSize(FitPageImage(FitArea(), paper_->PageLayout().Printer));
}

void TPrintPreviewForm::Zoom(QSize size, QPoint at) {
  SetImageSize(size);
  const QWidget* viewport = sbPage_->viewport();
  sbPage_->horizontalScrollBar()->setValue(kImageMargin + at.x() - viewport->width() / 2);
  sbPage_->verticalScrollBar()->setValue(kImageMargin + at.y() - viewport->height() / 2);
}

void TPrintPreviewForm::ZoomIn(QPoint at) {
  if (!paper_ || pbPage_->width() >= kZoomLimit) return;
  Zoom(pbPage_->size() * 2, at * 2);
  const QWidget* viewport = sbPage_->viewport();
  QCursor::setPos(viewport->mapToGlobal(viewport->rect().center()));
}

void TPrintPreviewForm::ZoomOut(QPoint at) {
  const QSize area = FitArea();
  if (!paper_ || (pbPage_->width() <= area.width() && pbPage_->height() <= area.height())) return;
  const QSize half(pbPage_->width() / 2, pbPage_->height() / 2);
  if (half.width() < area.width() || half.height() < area.height())
    Fit();
  else
    Zoom(half, at / 2);
  const QWidget* viewport = sbPage_->viewport();
  QCursor::setPos(viewport->mapToGlobal(viewport->rect().center()));
}

bool TPrintPreviewForm::eventFilter(QObject* watched, QEvent* event) {
  // The scroll box changes size only with the window: its scroll bars coming and going do not
  // undo a zoom.
  if (watched == sbPage_ && event->type() == QEvent::Resize) Fit();
  return QDialog::eventFilter(watched, event);
}

void TPrintPreviewForm::TreeDoubleClicked(QTreeWidgetItem* item) {
  TRootNode* node = ItemNode(item);
  if (node == nullptr || report_ == nullptr) return;
  bool edited = false;
  if (ItemLevel(item) == 0 && node == report_) {
    if (!EditHeaderFooter) return;
    edited = EditHeaderFooter(*report_);
  } else if (auto* reg = dynamic_cast<TRegisterNode*>(node)) {
    if (!EditRegister) return;
    edited = EditRegister(*reg);
  } else {
    return;
  }
  if (edited) SetItemCaption(item, node->Caption());
  Relayout();
}

void TPrintPreviewForm::PrintClick() {
  if (report_ == nullptr) return;
  std::unique_ptr<QPrinter> printer;
  QString pdf;
  const QPrinterInfo info = QPrinterInfo::defaultPrinter();
  if (info.isNull()) {
    pdf = AskPdfPath ? AskPdfPath() : QString();
    if (pdf.isEmpty()) return;
    printer = MakePrinter();
    printer->setOutputFileName(pdf);
  } else {
    printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
  }
  printer->setDocName(report_->Caption());
  int pages = 0;
  {
    TBusyCursor busy;
    // A paper of its own: the preview keeps its first page.
    TReportPaper paper(*report_);
    paper.View = View();
    paper.Layout(*printer, Orientation());
    pages = paper.Print(*printer);
  }
  if (pages < 0) {
    const QString target = pdf.isEmpty() ? info.printerName() : QDir::toNativeSeparators(pdf);
    ShowMessage(QStringLiteral("Не удалось напечатать отчет: %1").arg(target), TMsgIcon::Error);
  }
}

void PreviewLabelHistory(TPrintPreviewForm& preview, TLabelDisplay& label) {
  const auto* reg = dynamic_cast<const TRegisterNode*>(label.Owner());
  std::unique_ptr<TReportNode> report = reg != nullptr ? HistoryReport(*reg) : nullptr;
  if (!report) {
    ShowMessage(QStringLiteral("Нет данных!"), TMsgIcon::Information);
    return;
  }
  preview.SetReport(report.get());
  preview.Execute();
  preview.SetReport(nullptr);
}

}  // namespace vexa
