#pragma once
// TRegisterPropertiesForm: a register's caption, comments, chart settings, polling interval and
// number of decimals. The decimals take effect at once, also when the dialog is then cancelled.

#include <QDialog>
#include <QString>

#include "ui/parts/HelpUnit.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace vexa {

class TNetwork;

class TColorSwatch;
class TRegisterNode;

class TRegisterPropertiesForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcRegisterProperties;
  static constexpr int kClientWidth = 184;
  static constexpr int kClientHeight = 240;

  explicit TRegisterPropertiesForm(TNetwork& network, QWidget* parent = nullptr);

  // The register the dialog edits; its values are loaded at once and again when shown.
  void SetRegister(TRegisterNode* reg);
  TRegisterNode* Register() const { return reg_; }
  // For a register copied into a report being printed: modal, without the polling page, which
  // means nothing there. True when the operator chose OK.
  bool ExecuteForPrinting(TRegisterNode& reg);

  // The fields as the dialog shows them. SetDigits, like the operator's arrows, stores the register's
  // Digits at once.
  int Zero() const;
  void SetZero(int value);
  int Notch() const;
  void SetNotch(int value);
  int PenWidth() const;
  void SetPenWidth(int value);
  int PenColor() const;
  void SetPenColor(int value);
  int Digits() const;
  void SetDigits(int value);
  int LoggingInterval() const;
  void SetLoggingInterval(int value);
  QString Comments() const;
  void SetComments(const QString& value);
  QString RCaption() const;
  void SetRCaption(const QString& value);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Load();
  void UpdateFullScale();
  void DigitsChange(int value);
  void OkClick();

  QLineEdit* nameEdit_ = nullptr;
  QTabWidget* pageTabs_ = nullptr;
  QPlainTextEdit* commentsEdit_ = nullptr;
  QLabel* fullScaleLabel_ = nullptr;
  QSpinBox* notchSpin_ = nullptr;
  QSpinBox* zeroSpin_ = nullptr;
  QSpinBox* penWidthSpin_ = nullptr;
  TColorSwatch* penColorSwatch_ = nullptr;
  QSpinBox* loggingIntervalSpin_ = nullptr;
  QSpinBox* digitsSpin_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  TRegisterNode* reg_ = nullptr;
  bool loading_ = false;
  TNetwork& network_;
};

}  // namespace vexa
