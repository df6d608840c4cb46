#include "ui/config/RegisterPropertiesUnit.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QShowEvent>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/Network.h"
#include "core/RegisterNode.h"
#include "ui/model/NetRules.h"
#include "ui/parts/ColorSwatch.h"
#include "ui/parts/CompactTabStyle.h"
#include "ui/parts/DialogButtons.h"
#include "ui/parts/HelpUnit.h"

namespace vexa {

namespace {

QSpinBox* NumberField(const char* name, int min, int max, int value, QWidget* parent) {
  auto* field = new QSpinBox(parent);
  field->setObjectName(QString::fromLatin1(name));
  field->setRange(min, max);
  field->setValue(value);
  return field;
}

QFormLayout* PageLayout(QWidget* page, QFormLayout::RowWrapPolicy wrap) {
  auto* form = new QFormLayout(page);
  form->setContentsMargins(4, 6, 4, 4);
  form->setHorizontalSpacing(4);
  form->setVerticalSpacing(4);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form->setRowWrapPolicy(wrap);
  return form;
}

}  // namespace

TRegisterPropertiesForm::TRegisterPropertiesForm(TNetwork& network, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint), network_(network) {
  setObjectName(QStringLiteral("RegisterPropertiesForm"));
  setWindowTitle(QStringLiteral("Свойства регистра"));

  edName = new QLineEdit(QStringLiteral("Название"), this);
  edName->setObjectName(QStringLiteral("nameEdit"));
  pcPages = new QTabWidget(this);
  pcPages->setObjectName(QStringLiteral("pageTabs"));
  // All three page captions in the width of the dialog, none hidden behind scroll arrows.
  pcPages->setUsesScrollButtons(false);
  pcPages->setElideMode(Qt::ElideRight);
  MakeTabsCompact(pcPages->tabBar());

  auto* description = new QWidget;
  meComments = new QPlainTextEdit(QStringLiteral("Комментарии"), description);
  meComments->setObjectName(QStringLiteral("commentsEdit"));
  auto* descriptionLayout = new QVBoxLayout(description);
  descriptionLayout->setContentsMargins(2, 2, 2, 2);
  descriptionLayout->addWidget(meComments);
  pcPages->addTab(description, QStringLiteral("Описание"));

  auto* chart = new QWidget;
  lbFullScale = new QLabel(chart);
  lbFullScale->setObjectName(QStringLiteral("fullScaleLabel"));
  seNotch = NumberField("notchSpin", 1, 10000, 10, chart);
  seZero = NumberField("zeroSpin", -10000, 10000, 0, chart);
  sePenWidth = NumberField("penWidthSpin", 1, 100, 20, chart);
  shPenColor = new TColorSwatch(chart);
  shPenColor->setObjectName(QStringLiteral("penColorSwatch"));
  shPenColor->setFixedSize(shPenColor->sizeHint());
  auto* chartLayout = PageLayout(chart, QFormLayout::DontWrapRows);
  chartLayout->addRow(QStringLiteral("Вся шкала:"), lbFullScale);
  chartLayout->addRow(QStringLiteral("Деления сетки:"), seNotch);
  chartLayout->addRow(QStringLiteral("Ноль шкалы:"), seZero);
  chartLayout->addRow(QStringLiteral("Ширина линии:"), sePenWidth);
  chartLayout->addRow(QStringLiteral("Цвет линии:"), shPenColor);
  pcPages->addTab(chart, QStringLiteral("График"));

  auto* other = new QWidget;
  seLoggingInterval = NumberField("loggingIntervalSpin", 1, 1000, 3, other);
  seDigits = NumberField("digitsSpin", 0, 15, 1, other);
  // Each step is stored and shown at once, so the value changes only by whole steps of the arrows.
  if (auto* text = seDigits->findChild<QLineEdit*>()) text->setReadOnly(true);
  // Their captions are too long to share a row with the field in this narrow dialog.
  auto* otherLayout = PageLayout(other, QFormLayout::WrapAllRows);
  otherLayout->addRow(QStringLiteral("Интервал опроса, с:"), seLoggingInterval);
  otherLayout->addRow(QStringLiteral("Цифр после запятой:"), seDigits);
  pcPages->addTab(other, QStringLiteral("Прочее"));

  QHBoxLayout* buttons = OkCancelRow(this, btOK, btCancel);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(edName);
  layout->addWidget(pcPages, 1);
  layout->addLayout(buttons);

  connect(seZero, &QSpinBox::valueChanged, this, &TRegisterPropertiesForm::UpdateFullScale);
  connect(seNotch, &QSpinBox::valueChanged, this, &TRegisterPropertiesForm::UpdateFullScale);
  connect(seDigits, &QSpinBox::valueChanged, this, &TRegisterPropertiesForm::DigitsChange);
  connect(btOK, &QPushButton::clicked, this, &TRegisterPropertiesForm::OkClick);

  UpdateFullScale();
  setFixedSize(kClientWidth, kClientHeight);
  InstallHelpShortcut(this, kHelpContext);
}

bool TRegisterPropertiesForm::ExecuteForPrinting(TRegisterNode& reg) {
  constexpr int pollingPage = 2;
  TRegisterNode* const before = reg_;
  SetRegister(&reg);
  if (pcPages->currentIndex() == pollingPage) pcPages->setCurrentIndex(0);
  pcPages->setTabVisible(pollingPage, false);
  const auto restore = qScopeGuard([&] {
    pcPages->setTabVisible(pollingPage, true);
    SetRegister(before);
  });
  return exec() == QDialog::Accepted;
}

void TRegisterPropertiesForm::SetRegister(TRegisterNode* reg) {
  reg_ = reg;
  Load();
}

int TRegisterPropertiesForm::Zero() const {
  return seZero->value();
}
void TRegisterPropertiesForm::SetZero(int value) {
  seZero->setValue(value);
}
int TRegisterPropertiesForm::Notch() const {
  return seNotch->value();
}
void TRegisterPropertiesForm::SetNotch(int value) {
  seNotch->setValue(value);
}
int TRegisterPropertiesForm::PenWidth() const {
  return sePenWidth->value();
}
void TRegisterPropertiesForm::SetPenWidth(int value) {
  sePenWidth->setValue(value);
}
int TRegisterPropertiesForm::PenColor() const {
  return shPenColor->Color();
}
void TRegisterPropertiesForm::SetPenColor(int value) {
  shPenColor->SetColor(value);
}
int TRegisterPropertiesForm::Digits() const {
  return seDigits->value();
}
void TRegisterPropertiesForm::SetDigits(int value) {
  seDigits->setValue(value);
}
int TRegisterPropertiesForm::LoggingInterval() const {
  return seLoggingInterval->value();
}
void TRegisterPropertiesForm::SetLoggingInterval(int value) {
  seLoggingInterval->setValue(value);
}
QString TRegisterPropertiesForm::Comments() const {
  return meComments->toPlainText();
}
void TRegisterPropertiesForm::SetComments(const QString& value) {
  meComments->setPlainText(value);
}
QString TRegisterPropertiesForm::RCaption() const {
  return edName->text();
}
void TRegisterPropertiesForm::SetRCaption(const QString& value) {
  edName->setText(value);
}

void TRegisterPropertiesForm::Load() {
  if (reg_ == nullptr) return;
  // Showing the register's own Digits must not store it back and read the device.
  loading_ = true;
  SetZero(reg_->Zero());
  SetNotch(reg_->Notch());
  SetPenWidth(reg_->PenWidth());
  SetPenColor(reg_->PenColor());
  SetDigits(reg_->Digits());
  SetLoggingInterval(reg_->LoggingInterval());
  SetComments(reg_->Comments());
  SetRCaption(reg_->Caption());
  loading_ = false;
  UpdateFullScale();
  pcPages->setCurrentIndex(0);
}

void TRegisterPropertiesForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    Load();
    edName->setFocus();
    edName->selectAll();
  }
  QDialog::showEvent(event);
}

void TRegisterPropertiesForm::UpdateFullScale() {
  lbFullScale->setText(FullScaleText(Zero(), Notch()));
}

void TRegisterPropertiesForm::DigitsChange(int value) {
  if (loading_ || reg_ == nullptr) return;
  reg_->SetDigits(value);
  reg_->Update(network_.LineContext());
}

void TRegisterPropertiesForm::OkClick() {
  if (reg_ != nullptr) {
    reg_->SetZero(Zero());
    reg_->SetNotch(Notch());
    reg_->SetPenWidth(PenWidth());
    reg_->SetPenColor(PenColor());
    reg_->SetDigits(Digits());
    reg_->SetLoggingInterval(LoggingInterval());
    reg_->SetComments(Comments());
    reg_->SetCaption(RCaption());
  }
  accept();
}

}  // namespace vexa
