#pragma once
// TPrintPreviewForm: a report's printed page previewed as a scaled image (the graph page, or the
// first page of the table) and printed on the default printer, or into a PDF file when the system
// has no printer. The same drawing code draws the screen, the printer and the file.

#include <QDialog>
#include <QPageLayout>
#include <functional>
#include <memory>

#include "reports/paper/ReportPaper.h"
#include "ui/parts/HelpUnit.h"

class QLineEdit;
class QPrinter;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QTreeWidget;
class QTreeWidgetItem;

namespace vexa {

class TLabelDisplay;
class TSession;
class TRegisterNode;
class TReportNode;
class TToolWindowCount;

class TPrintPreviewForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcPrintPreview;
  static constexpr int kWidth = 664;
  static constexpr int kHeight = 361;
  static constexpr int kMinSize = 400;
  static constexpr int kPanelWidth = 143;
  static constexpr int kImageMargin = 8;   // of the page image from the scroll box's top-left
  static constexpr int kZoomLimit = 4000;  // no zooming in from this image width on
  static inline const QString kCaption = QStringLiteral("Предварительный просмотр");
  static inline const QString kEmptyReport = QStringLiteral("Отчет пуст!");

  explicit TPrintPreviewForm(TSession* session = nullptr, QWidget* parent = nullptr);
  ~TPrintPreviewForm() override;

  void SetSession(TSession* session);
  // The report to show, set before every showing. Not owned: the caller destroys it after the
  // showing, so the window forgets it when it closes.
  void SetReport(TReportNode* report);
  TReportNode* Report() const { return report_; }
  // Shows the window modally; false, after "Отчет пуст!", when the report has no register or its
  // first register no sample.
  bool Execute();

  // Tree double-click on the report: its header and footer lines; on a register: its properties.
  // Each answers whether it changed anything; unset, a double-click does nothing.
  std::function<bool(TReportNode&)> EditHeaderFooter;
  std::function<bool(TRegisterNode&)> EditRegister;
  // The PDF file to print into when the system has no printer; empty cancels. A save dialog unless
  // replaced.
  std::function<QString()> AskPdfPath;

  TPrintView View() const;
  QPageLayout::Orientation Orientation() const;
  // What the screen draws from; null while no report is shown.
  const TReportPaper* Paper() const { return paper_.get(); }
  // The area the page image is fitted into: the scroll box's client area less 16 pixels.
  QSize FitArea() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  friend class TPageImage;

  // The system's default printer, or an A4 PDF printer when there is none.
  static std::unique_ptr<QPrinter> MakePrinter();
  QString AskPdfPathDialog();
  void Relayout();
  void Fit();
  void ZoomIn(QPoint at);
  void ZoomOut(QPoint at);
  // The image at a new size with the point `at` (in the new image) in the scroll box's centre.
  void Zoom(QSize size, QPoint at);
  void SetImageSize(QSize size);
  void PrintClick();
  void TreeDoubleClicked(QTreeWidgetItem* item);
  void Forget();

  TToolWindowCount* toolCount_ = nullptr;
  TReportNode* report_ = nullptr;
  std::unique_ptr<TReportPaper> paper_;
  std::unique_ptr<QPrinter> printer_;
  QString pdfFolder_;
  QScrollArea* sbPage_ = nullptr;
  QWidget* sheet_ = nullptr;  // the scrolled area: the page image and its margins
  QWidget* pbPage_ = nullptr;
  QLineEdit* edDate_ = nullptr;
  QLineEdit* edTime_ = nullptr;
  QLineEdit* edNotch_ = nullptr;
  QRadioButton* rbGraph_ = nullptr;
  QRadioButton* rbTable_ = nullptr;
  QRadioButton* rbLandscape_ = nullptr;
  QRadioButton* rbPortrait_ = nullptr;
  QTreeWidget* tvReport_ = nullptr;
  QPushButton* btPrint_ = nullptr;
};

// The label's history as a report of its own ("История"), shown in the preview; "Нет данных!" when
// the register has logged nothing.
void PreviewLabelHistory(TPrintPreviewForm& preview, TLabelDisplay& label);

}  // namespace vexa
