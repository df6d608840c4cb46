#pragma once
// TArchivesForm: the report archive window. It lists the files of the archive folder, opens one for
// viewing and printing, converts one into tab-separated text, deletes the selected ones and sorts
// the list by file date.

#include <QWidget>
#include <functional>

#include "ui/parts/HelpUnit.h"

class QAction;
class QLabel;
class QListWidget;
class QStackedWidget;
class QToolBar;

namespace vexa {

class TNetwork;

class TMainForm;
class TReportNode;
class TToolWindowCount;

class TArchivesForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcArchives;
  static constexpr int kWidth = 217;
  static constexpr int kHeight = 350;
  static constexpr int kTotalPanelWidth = 82;
  static constexpr int kSelectedPanelWidth = 50;

  explicit TArchivesForm(TNetwork& network, TMainForm* mainForm = nullptr, QWidget* parent = nullptr);
  ~TArchivesForm() override;

  // The main window whose tool-window count this window is part of.
  void SetMainForm(TMainForm* mainForm);
  // Shows a report loaded from an archive (modally) and returns when the operator is done with it;
  // the report is destroyed afterwards. Without it, viewing only checks the file.
  std::function<void(TReportNode&)> Preview;

  // Reads the names again, sorted by date when the toggle is down.
  void Refresh();
  // The listed names in list order.
  QStringList Names() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Fill(const QStringList& names);
  void SortList();
  QStringList SelectedNames() const;
  // One file selected, and it is no report archive (greyed in the list).
  bool SelectedIsNoArchive() const;
  void UpdateStatus();
  void ViewClick();
  void ExportClick();
  void DeleteClick();
  void SelectAll(bool select);

  TToolWindowCount* toolWindowCount_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QAction* viewAction_ = nullptr;
  QAction* refreshAction_ = nullptr;
  QAction* sortByDateAction_ = nullptr;
  QAction* exportAction_ = nullptr;
  QAction* deleteAction_ = nullptr;
  QAction* selectAllAction_ = nullptr;
  QAction* deselectAllAction_ = nullptr;
  QStackedWidget* stack_ = nullptr;
  QListWidget* lbFiles_ = nullptr;
  QWidget* sortingPanel_ = nullptr;
  QLabel* totalPanel_ = nullptr;
  QLabel* selectedPanel_ = nullptr;
  TNetwork& network_;
};

}  // namespace vexa
