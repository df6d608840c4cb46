#include "ui/config/ArchivesUnit.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QShowEvent>
#include <QStackedWidget>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "core/ImageIndex.h"
#include "core/Network.h"
#include "core/Services.h"
#include "reports/model/ReportNode.h"
#include "ui/MainUnit.h"
#include "ui/model/ArchiveList.h"
#include "ui/parts/ImageList.h"
#include "ui/parts/Tell.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

namespace {

const QString kViewOne = QStringLiteral("Выберите один отчет для просмотра и печати!");
const QString kExportOne = QStringLiteral("Выберите один отчет для преобразования в Excel!");
const QString kDeleteSome = QStringLiteral("Выберите отчеты для удаления!");
constexpr int kWideSeparatorGap = 8;
// Set on the items of files that are no report archives.
constexpr int kNotAnArchiveRole = Qt::UserRole + 1;

// A double-click anywhere in the list views the selected file, after the list has taken the click
// (on the empty part it clears the selection first, as a press there does).
class TFileListView : public QListWidget {
 public:
  using QListWidget::QListWidget;
  std::function<void()> DoubleClicked;

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    QListWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && DoubleClicked) DoubleClicked();
  }
};

}  // namespace

TArchivesForm::TArchivesForm(TNetwork& network, TMainForm* mainForm, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), network_(network) {
  setObjectName(QStringLiteral("ArchivesForm"));
  setWindowTitle(QStringLiteral("Архив отчетов"));
  setWindowIcon(ImageIcon(iiARCHIVES));
  toolWindowCount_ = new TToolWindowCount(this, SessionOf(mainForm));  // owned by the window

  toolBar_ = new QToolBar(this);
  toolBar_->setObjectName(QStringLiteral("toolBar"));
  toolBar_->setIconSize(QSize(16, 16));
  auto button = [this](const char* name, int image, const char* hint) {
    QAction* a = toolBar_->addAction(ImageIcon(image), QString::fromUtf8(hint));
    a->setObjectName(QString::fromLatin1(name));
    return a;
  };
  viewAction_ = button("viewAction", iiPRINT, "Просмотр и печать отчета");
  toolBar_->addSeparator();
  refreshAction_ = button("refreshAction", iiREFRESH, "Обновить");
  refreshAction_->setShortcut(Qt::Key_F5);
  sortByDateAction_ = button("sortByDateAction", iiDATE, "Сортировать по дате");
  sortByDateAction_->setCheckable(true);
  toolBar_->addSeparator();
  exportAction_ = button("exportAction", iiEXCEL, "Преобразовать для Excel");
  auto* gap = new QWidget(toolBar_);
  gap->setFixedWidth(kWideSeparatorGap);
  toolBar_->addWidget(gap);
  toolBar_->addSeparator();
  deleteAction_ = button("deleteAction", iiDELETE, "Удалить");
  deleteAction_->setShortcut(Qt::Key_Delete);

  // The window takes these keys before the list does.
  selectAllAction_ = new QAction(QStringLiteral("Выбрать все"), this);
  selectAllAction_->setObjectName(QStringLiteral("selectAllAction"));
  selectAllAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
  deselectAllAction_ = new QAction(QStringLiteral("Отменить выбор"), this);
  deselectAllAction_->setObjectName(QStringLiteral("deselectAllAction"));
  deselectAllAction_->setShortcut(Qt::Key_Escape);
  addAction(selectAllAction_);
  addAction(deselectAllAction_);

  auto* list = new TFileListView(this);
  list->DoubleClicked = [this] { ViewClick(); };
  lbFiles_ = list;
  lbFiles_->setObjectName(QStringLiteral("fileList"));
  lbFiles_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lbFiles_->setEditTriggers(QAbstractItemView::NoEditTriggers);

  auto* sorting = new QLabel(QStringLiteral("Сортировка..."), this);
  sorting->setObjectName(QStringLiteral("sortingPanel"));
  sorting->setAlignment(Qt::AlignCenter);
  sorting->setFrameStyle(QFrame::Panel | QFrame::Raised);
  sortingPanel_ = sorting;

  stack_ = new QStackedWidget(this);
  stack_->addWidget(sortingPanel_);
  stack_->addWidget(lbFiles_);
  stack_->setCurrentWidget(lbFiles_);

  auto* status = new QStatusBar(this);
  status->setObjectName(QStringLiteral("StatusBar1"));
  status->setSizeGripEnabled(false);
  totalPanel_ = new QLabel(status);
  totalPanel_->setObjectName(QStringLiteral("totalPanel"));
  totalPanel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  selectedPanel_ = new QLabel(status);
  selectedPanel_->setObjectName(QStringLiteral("selectedPanel"));
  selectedPanel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  // The first panel is as narrow as the layout has it unless its text needs more; the second one
  // takes the rest of the bar.
  totalPanel_->setMinimumWidth(kTotalPanelWidth);
  selectedPanel_->setMinimumWidth(kSelectedPanelWidth);
  status->addWidget(totalPanel_);
  status->addWidget(selectedPanel_, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(toolBar_);
  layout->addWidget(stack_, 1);
  layout->addWidget(status);
  resize(kWidth, kHeight);

  connect(viewAction_, &QAction::triggered, this, &TArchivesForm::ViewClick);
  connect(refreshAction_, &QAction::triggered, this, &TArchivesForm::Refresh);
  connect(sortByDateAction_, &QAction::triggered, this, &TArchivesForm::Refresh);
  connect(exportAction_, &QAction::triggered, this, &TArchivesForm::ExportClick);
  connect(deleteAction_, &QAction::triggered, this, &TArchivesForm::DeleteClick);
  connect(selectAllAction_, &QAction::triggered, this, [this] { SelectAll(true); });
  connect(deselectAllAction_, &QAction::triggered, this, [this] { SelectAll(false); });
  connect(lbFiles_, &QListWidget::itemSelectionChanged, this, &TArchivesForm::UpdateStatus);

  Fill(ListArchiveFiles(network_.Dir()));
  InstallHelpShortcut(this, kHelpContext);
}

TArchivesForm::~TArchivesForm() = default;

void TArchivesForm::SetMainForm(TMainForm* mainForm) {
  toolWindowCount_->SetSession(SessionOf(mainForm));
}

void TArchivesForm::Refresh() {
  Fill(ListArchiveFiles(network_.Dir()));
  if (sortByDateAction_->isChecked()) SortList();
}

QStringList TArchivesForm::Names() const {
  QStringList names;
  for (int i = 0; i < lbFiles_->count(); ++i) names << lbFiles_->item(i)->text();
  return names;
}

void TArchivesForm::Fill(const QStringList& names) {
  {
    const QSignalBlocker blocker(lbFiles_);
    lbFiles_->clear();
    lbFiles_->addItems(names);
    // Files that are no report archives stay listed, to be deleted, but greyed with the reason.
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    for (int i = 0; i < lbFiles_->count(); ++i) {
      QListWidgetItem* item = lbFiles_->item(i);
      if (IsReportArchive(network_.Dir(), item->text())) continue;
      item->setData(kNotAnArchiveRole, true);
      item->setForeground(grey);
      item->setToolTip(kNotAnArchiveHint);
    }
  }
  UpdateStatus();
}

void TArchivesForm::SortList() {
  TBusyCursor busy;
  QStringList names = Names();
  std::vector<TFileAge> ages;
  ages.reserve(static_cast<size_t>(names.size()));
  for (const QString& name : names) ages.push_back(ArchiveFileAge(network_.Dir(), name));
  // A long sort keeps the window painted, but takes no commands until the list is back.
  const bool focused = lbFiles_->hasFocus();
  stack_->setCurrentWidget(sortingPanel_);
  SortNewestFirst(names, ages, [] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  Fill(names);
  stack_->setCurrentWidget(lbFiles_);
  if (focused) lbFiles_->setFocus();
}

bool TArchivesForm::SelectedIsNoArchive() const {
  const QList<QListWidgetItem*> selected = lbFiles_->selectedItems();
  return selected.size() == 1 && selected.first()->data(kNotAnArchiveRole).toBool();
}

QStringList TArchivesForm::SelectedNames() const {
  QStringList names;
  for (int i = 0; i < lbFiles_->count(); ++i)
    if (lbFiles_->item(i)->isSelected()) names << lbFiles_->item(i)->text();
  return names;
}

void TArchivesForm::UpdateStatus() {
  totalPanel_->setText(QStringLiteral("Всего: %1").arg(lbFiles_->count()));
  selectedPanel_->setText(QStringLiteral("Выбрано: %1").arg(lbFiles_->selectedItems().size()));
}

void TArchivesForm::ViewClick() {
  const QStringList selected = SelectedNames();
  if (selected.size() != 1) {
    ShowMessage(kViewOne, TMsgIcon::Information);
    return;
  }
  if (SelectedIsNoArchive()) return;  // marked in the list: nothing to tell
  std::unique_ptr<TReportNode> report;
  {
    TBusyCursor busy;
    report = OpenArchive(network_.Dir(), selected.first());
  }
  if (!report) {
    ShowMessage(NotAnArchiveMessage(selected.first()), TMsgIcon::Warning);
    return;
  }
  if (Preview) Preview(*report);
}

void TArchivesForm::ExportClick() {
  const QStringList selected = SelectedNames();
  if (selected.size() != 1) {
    ShowMessage(kExportOne, TMsgIcon::Information);
    return;
  }
  if (SelectedIsNoArchive()) return;
  TArchiveExport result;
  {
    TBusyCursor busy;
    result = ExportArchiveText(network_.Dir(), selected.first());
    if (result.Written) Refresh();
  }
  ShowMessage(result.Message, result.Icon);
}

void TArchivesForm::DeleteClick() {
  const QStringList selected = SelectedNames();
  if (selected.isEmpty()) {
    ShowMessage(kDeleteSome, TMsgIcon::Warning);
    return;
  }
  if (ShowMessage(DeleteQuestion(static_cast<int>(selected.size())), TMsgIcon::Question, mbYes | mbNo,
                  mbYes) != mbYes)
    return;
  QStringList failures;
  {
    TBusyCursor busy;
    failures = DeleteArchiveFiles(network_.Dir(), selected);
  }
  for (const QString& failure : failures) ShowMessage(failure, TMsgIcon::Information);
  Refresh();
}

void TArchivesForm::SelectAll(bool select) {
  // Qt selects or clears the whole list as one change, so the list need not be hidden meanwhile.
  if (select)
    lbFiles_->selectAll();
  else
    lbFiles_->clearSelection();
  UpdateStatus();
}

void TArchivesForm::showEvent(QShowEvent* event) {
  // Reports archived since the window was last open are listed as it opens.
  if (!event->spontaneous()) Refresh();
  QWidget::showEvent(event);
}

}  // namespace vexa
