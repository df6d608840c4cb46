#pragma once
// TReportPropertiesForm ("Свойства отчета"): a report template's name, sampling interval, window
// duration, alignment and shift start, periodic or one-time running, archiving, and the page header
// and footer lines. It edits working copies and writes them into the node only on "OK", and only
// with an expected number of samples in 10..8000.

#include <QDialog>
#include <functional>

#include "reports/model/ReportRules.h"
#include "ui/parts/HelpUnit.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QToolButton;

namespace vexa {

class TReportNode;

// A pair of arrow buttons, up above down, that step a read-only field.
class TUpDown : public QWidget {
 public:
  explicit TUpDown(QWidget* parent = nullptr);
  std::function<void(int delta)> OnStep;  // +1 up, -1 down

 private:
  QToolButton* upButton_ = nullptr;
  QToolButton* downButton_ = nullptr;
};

class TReportPropertiesForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcReportProperties;
  static constexpr int kClientWidth = 272;
  static constexpr int kClientHeight = 272;
  // Page order.
  enum { kDurationsPage = 0, kHeaderFooterPage = 1, kOtherPage = 2 };

  explicit TReportPropertiesForm(QWidget* parent = nullptr);

  // Shows the dialog modally for the node; true when its values were written into it.
  bool Execute(TReportNode& node);
  // The same with only the "Колонтитулы" page, for this showing.
  bool ExecuteHeaderFooter(TReportNode& node);

  const TReportSettings& Settings() const { return settings_; }

 private:
  void Load(const TReportNode& node);
  // Every control from the working copies.
  void ShowSettings();
  void OkClick();

  QLineEdit* nameEdit_ = nullptr;
  QTabWidget* pageTabs_ = nullptr;
  QCheckBox* alignCheckBox_ = nullptr;
  QCheckBox* shiftCheckBox_ = nullptr;
  QSpinBox* shiftHourSpin_ = nullptr;
  QLabel* hourWordLabel_ = nullptr;
  QLabel* legendLabel_ = nullptr;
  QLineEdit* durationEdit_ = nullptr;
  TUpDown* durationUpDown_ = nullptr;
  QLineEdit* intervalEdit_ = nullptr;
  TUpDown* intervalUpDown_ = nullptr;
  QLabel* pointCountLabel_ = nullptr;
  QPlainTextEdit* headerEdit_ = nullptr;
  QPlainTextEdit* footerEdit_ = nullptr;
  QRadioButton* periodicButton_ = nullptr;
  QRadioButton* oneTimeButton_ = nullptr;
  QRadioButton* saveAutoButton_ = nullptr;
  QRadioButton* saveNoneButton_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  TReportNode* node_ = nullptr;
  TReportSettings settings_;
  bool showing_ = false;  // controls being filled, not clicked
};

}  // namespace vexa
