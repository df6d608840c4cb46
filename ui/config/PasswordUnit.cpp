#include "ui/config/PasswordUnit.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <memory>

#include "core/Network.h"
#include "core/Services.h"
#include "core/SetupNode.h"
#include "ui/MainUnit.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/Tell.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

TPasswordDlg::TPasswordDlg(TNetwork& network, TMainForm* mainForm, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      network_(network) {
  setWindowTitle(QStringLiteral("Введите пароль"));
  setFixedSize(kClientWidth, kClientHeight);
  new TToolWindowCount(this, SessionOf(mainForm));  // owned by the window
  InstallHelpShortcut(this, kHelpContext);

  passwordEdit_ = new QLineEdit(this);
  passwordEdit_->setObjectName(QStringLiteral("passwordEdit"));
  passwordEdit_->setEchoMode(QLineEdit::Password);
  // Every typed character shows as '*', whatever the style's own mask character is.
  passwordEdit_->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  passwordEdit_->setGeometry(8, 8, kClientWidth - 16, 22);

  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setObjectName(QStringLiteral("okButton"));
  okButton_->setDefault(true);
  okButton_->setGeometry(8, 36, 80, 25);
  cancelButton_ = new QPushButton(QStringLiteral("Отмена"), this);
  cancelButton_->setObjectName(QStringLiteral("cancelButton"));
  cancelButton_->setAutoDefault(false);
  cancelButton_->setGeometry(kClientWidth - 8 - 80, 36, 80, 25);

  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

TPasswordDlg::~TPasswordDlg() = default;

QString TPasswordDlg::Password() const {
  return passwordEdit_->text();
}

void TPasswordDlg::showEvent(QShowEvent* event) {
  // Centred on the screen, not near a page: the question is about the whole program.
  if (const QScreen* screen = this->screen()) {
    // The frame is known once the window exists (it does by now); it is centred with the window.
    const QSize outer = frameGeometry().size();
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - outer.width()) / 2, area.top() + (area.height() - outer.height()) / 2);
  }
  passwordEdit_->clear();
  passwordEdit_->setFocus();
  QDialog::showEvent(event);
}

bool AskPassword(TNetwork& network, TMainForm* mainForm) {
  std::unique_ptr<TPasswordDlg> own;
  TPasswordDlg* dialog =
      mainForm ? qobject_cast<TPasswordDlg*>(mainForm->Window(TWindowRole::Password)) : nullptr;
  if (!dialog) {
    own = std::make_unique<TPasswordDlg>(network, mainForm);
    dialog = own.get();
  }
  if (dialog->exec() != QDialog::Accepted) return false;
  const QString typed = dialog->Password();
  dialog->passwordEdit_->clear();  // no password waits in a hidden window
  if (network.Setup() && typed == network.Setup()->Password()) return true;
  if (typed == kFixedPassword) return true;
  ShowMessage(QStringLiteral("Неверный пароль!"), TMsgIcon::Error);
  return false;
}

}  // namespace vexa
