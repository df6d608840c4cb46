#pragma once
// "Введите пароль": the question that opens the network for configuration.

#include <QDialog>
#include <QString>

#include "ui/parts/HelpUnit.h"

class QLineEdit;
class QPushButton;

namespace vexa {

class TNetwork;

class TMainForm;

class TPasswordDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcPassword;
  static constexpr int kClientWidth = 182;
  static constexpr int kClientHeight = 65;

  explicit TPasswordDlg(TNetwork& network, TMainForm* mainForm = nullptr, QWidget* parent = nullptr);
  ~TPasswordDlg() override;

  QString Password() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Empties the field once the answer is read.
  friend bool AskPassword(TNetwork& network, TMainForm* mainForm);

  QLineEdit* passwordEdit_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  TNetwork& network_;
};

// The password accepted whatever the network's own password is.
inline const QString kFixedPassword = QStringLiteral("418275");

// Asks for the password with the main window's password dialog (a window of its own when the
// main window has none, or there is no main window). True when the text typed is the network
// password or the fixed one; a wrong one is told, a cancelled question is not.
bool AskPassword(TNetwork& network, TMainForm* mainForm);

}  // namespace vexa
