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

  edPassword = new QLineEdit(this);
  edPassword->setObjectName(QStringLiteral("passwordEdit"));
  edPassword->setEchoMode(QLineEdit::Password);
  // Every typed character shows as '*', whatever the style's own mask character is.
  edPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  edPassword->setGeometry(8, 8, kClientWidth - 16, 22);

  btOK = new QPushButton(QStringLiteral("OK"), this);
  btOK->setObjectName(QStringLiteral("okButton"));
  btOK->setDefault(true);
  btOK->setGeometry(8, 36, 80, 25);
  btCancel = new QPushButton(QStringLiteral("Отмена"), this);
  btCancel->setObjectName(QStringLiteral("cancelButton"));
  btCancel->setAutoDefault(false);
  btCancel->setGeometry(kClientWidth - 8 - 80, 36, 80, 25);

  connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TPasswordDlg::~TPasswordDlg() = default;

QString TPasswordDlg::Password() const {
  return edPassword->text();
}

void TPasswordDlg::showEvent(QShowEvent* event) {
  // Centred on the screen, not near a page: the question is about the whole program.
  if (const QScreen* screen = this->screen()) {
    // The frame is known once the window exists (it does by now); it is centred with the window.
    const QSize outer = frameGeometry().size();
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - outer.width()) / 2, area.top() + (area.height() - outer.height()) / 2);
  }
  edPassword->clear();
  edPassword->setFocus();
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
  dialog->edPassword->clear();  // no password waits in a hidden window
  if (network.Setup() && typed == network.Setup()->Password()) return true;
  if (typed == kFixedPassword) return true;
  ShowMessage(QStringLiteral("Неверный пароль!"), TMsgIcon::Error);
  return false;
}

}  // namespace vexa
