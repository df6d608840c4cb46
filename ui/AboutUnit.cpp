#include "ui/AboutUnit.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <map>

#include "Version.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/ImageList.h"

namespace vexa {

namespace {

struct TResourceInfo {
  const char* Key;
  const char* Prefix;
};

const TResourceInfo& InfoOf(TVersionLabel::TVersionResource r) {
  static const TResourceInfo table[] = {
      {"CompanyName", "Производитель:"},      {"FileDescription", "Описание:"},
      {"FileVersion", "Версия файла:"},       {"InternalName", "Внутреннее имя:"},
      {"LegalCopyright", "Авторские права:"}, {"OriginalFilename", "Исходное имя файла:"},
      {"ProductName", "Название продукта:"},  {"ProductVersion", "Версия продукта:"},
      {"Comments", "Комментарии:"},
  };
  return table[static_cast<int>(r)];
}

// The language and code page the program's version strings are written for (Russian, 1251).
const QString kVersionLangCharset = QStringLiteral("041904E3");

}  // namespace

// Product version: major.minor, what the operator and the maker talk about ("1.0").
QString TVersionLabel::ProductVersion() {
  return QStringLiteral("%1.%2").arg(VEXA_VERSION_MAJOR).arg(VEXA_VERSION_MINOR);
}

// File version: the four numbers of a build. The project version has three; the build number is 0
// until builds are numbered.
QString TVersionLabel::FileVersion() {
  return QStringLiteral("%1.%2.%3.0").arg(VEXA_VERSION_MAJOR).arg(VEXA_VERSION_MINOR).arg(VEXA_VERSION_PATCH);
}

bool TVersionLabel::LookUp(const QString& langCharset, const QString& key, QString* value) {
  if (langCharset.compare(kVersionLangCharset, Qt::CaseInsensitive) != 0) return false;
  static const std::map<QString, QString> strings{
      {QStringLiteral("CompanyName"), QStringLiteral("Дравонел")},
      {QStringLiteral("FileDescription"),
       QStringLiteral("Vexa - управляющая оболочка для сети локальных регуляторов")},
      {QStringLiteral("FileVersion"), FileVersion()},
      {QStringLiteral("InternalName"), QStringLiteral("Vexa")},
      {QStringLiteral("LegalCopyright"), QStringLiteral("© Дравонел")},
      {QStringLiteral("OriginalFilename"), QStringLiteral("vexa")},
      {QStringLiteral("ProductName"), QStringLiteral("Vexa")},
      {QStringLiteral("ProductVersion"), ProductVersion()},
      {QStringLiteral("Comments"), QString()},
  };
  const auto it = strings.find(key);
  if (it == strings.end()) return false;
  *value = it->second;
  return true;
}

TVersionLabel::TVersionLabel(QWidget* parent) : QLabel(parent) {
  setWordWrap(false);
  SetVersionResource(vrFileVersion);
}

void TVersionLabel::SetVersionResource(TVersionResource value) {
  resource_ = value;
  SetVersionResourceKey(QString::fromLatin1(InfoOf(value).Key));
  SetInfoPrefix(QString::fromUtf8(InfoOf(value).Prefix));
}

void TVersionLabel::SetVersionResourceKey(const QString& value) {
  if (value == key_) return;
  key_ = value;
  SetInfoPrefix(value);
}

void TVersionLabel::SetInfoPrefix(const QString& value) {
  prefix_ = value;
  Rebuild();
}

void TVersionLabel::SetShowInfoPrefix(bool value) {
  showPrefix_ = value;
  Rebuild();
}

void TVersionLabel::SetLangCharset(const QString& value) {
  langCharset_ = value;
  Rebuild();
}

void TVersionLabel::Rebuild() {
  QString text;
  QString value;
  if (!LookUp(langCharset_, key_, &value))
    text = QStringLiteral("Ошибка получения информации");
  else if (value.isEmpty())  // the resource's one-character (terminator only) value
    text = QStringLiteral("Информация отсутствует");
  else
    text = value;
  if (showPrefix_) text = prefix_ + QLatin1Char(' ') + text;
  setText(text);
  adjustSize();
}

TAboutBox::TAboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("О программе"));
  setWindowIcon(vexa::ProgramIcon());
  setFixedSize(321, 194);
  setModal(true);

  auto* panel = new QFrame(this);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Sunken);
  panel->setGeometry(8, 8, 305, 145);

  QFont bold;
  bold.setFamilies(
      {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  bold.setPointSize(9);
  bold.setBold(true);
  ProductName = new QLabel(QStringLiteral("Vexa - управляющая оболочка для сети"), panel);
  Comments = new QLabel(QStringLiteral("локальных регуляторов типа 'Gelmark'"), panel);
  ProductName->setObjectName(QStringLiteral("productNameLabel"));
  Comments->setObjectName(QStringLiteral("commentsLabel"));
  for (QLabel* l : {ProductName, Comments}) {
    l->setFont(bold);
    l->setAlignment(Qt::AlignCenter);
  }

  ProgramIcon = new QLabel(panel);
  ProgramIcon->setObjectName(QStringLiteral("programIcon"));
  InitResources();
  ProgramIcon->setPixmap(QPixmap(QString::fromLatin1(kProgramIcon32)));
  ProgramIcon->setFixedSize(32, 32);

  Version = new TVersionLabel(panel);
  Version->setObjectName(QStringLiteral("versionLabel"));
  Version->SetVersionResource(TVersionLabel::vrProductVersion);
  Version->SetInfoPrefix(QStringLiteral("Версия:"));
  FileVersion = new TVersionLabel(panel);
  FileVersion->setObjectName(QStringLiteral("fileVersionLabel"));
  FileVersion->SetVersionResource(TVersionLabel::vrFileVersion);
  FileVersion->SetInfoPrefix(QStringLiteral("Версия файла:"));

  // The two bold lines are as wide as the panel allows in the fallback font, so they get the
  // whole width; the icon goes with the version lines below them.
  auto* versions = new QVBoxLayout;
  versions->setSpacing(4);
  versions->addWidget(Version);
  versions->addWidget(FileVersion);
  auto* iconRow = new QHBoxLayout;
  iconRow->setSpacing(14);
  iconRow->addWidget(ProgramIcon, 0, Qt::AlignTop);
  iconRow->addLayout(versions);
  iconRow->addStretch();
  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(8, 12, 8, 10);
  column->setSpacing(2);
  column->addStretch();
  column->addWidget(ProductName);
  column->addWidget(Comments);
  column->addSpacing(16);
  column->addLayout(iconRow);
  column->addStretch();

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("okButton"));
  OKButton->setGeometry(123, 161, 75, 25);
  OKButton->setDefault(true);
  OKButton->setAutoDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
  // Esc closes through QDialog::reject: OK is the cancel button as well.

  InstallHelpShortcut(this, hcAboutBox);
}

void TAboutBox::showEvent(QShowEvent* event) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    const QRect frame = frameGeometry();
    move(area.left() + (area.width() - frame.width()) / 2, area.top() + (area.height() - frame.height()) / 2);
  }
  QDialog::showEvent(event);
}

void TAboutBox::Execute(QWidget* parent) {
  TAboutBox box(parent);
  box.exec();
}

}  // namespace vexa
