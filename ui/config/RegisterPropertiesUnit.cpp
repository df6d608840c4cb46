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

  nameEdit_ = new QLineEdit(QStringLiteral("Название"), this);
  nameEdit_->setObjectName(QStringLiteral("nameEdit"));
  pageTabs_ = new QTabWidget(this);
  pageTabs_->setObjectName(QStringLiteral("pageTabs"));
  // All three page captions in the width of the dialog, none hidden behind scroll arrows.
  pageTabs_->setUsesScrollButtons(false);
  pageTabs_->setElideMode(Qt::ElideRight);
  MakeTabsCompact(pageTabs_->tabBar());

  auto* description = new QWidget;
  commentsEdit_ = new QPlainTextEdit(QStringLiteral("Комментарии"), description);
  commentsEdit_->setObjectName(QStringLiteral("commentsEdit"));
  auto* descriptionLayout = new QVBoxLayout(description);
  descriptionLayout->setContentsMargins(2, 2, 2, 2);
  descriptionLayout->addWidget(commentsEdit_);
  pageTabs_->addTab(description, QStringLiteral("Описание"));

  auto* chart = new QWidget;
  fullScaleLabel_ = new QLabel(chart);
  fullScaleLabel_->setObjectName(QStringLiteral("fullScaleLabel"));
  notchSpin_ = NumberField("notchSpin", 1, 10000, 10, chart);
  zeroSpin_ = NumberField("zeroSpin", -10000, 10000, 0, chart);
  penWidthSpin_ = NumberField("penWidthSpin", 1, 100, 20, chart);
  penColorSwatch_ = new TColorSwatch(chart);
  penColorSwatch_->setObjectName(QStringLiteral("penColorSwatch"));
  penColorSwatch_->setFixedSize(penColorSwatch_->sizeHint());
  auto* chartLayout = PageLayout(chart, QFormLayout::DontWrapRows);
  chartLayout->addRow(QStringLiteral("Вся шкала:"), fullScaleLabel_);
  chartLayout->addRow(QStringLiteral("Деления сетки:"), notchSpin_);
  chartLayout->addRow(QStringLiteral("Ноль шкалы:"), zeroSpin_);
  chartLayout->addRow(QStringLiteral("Ширина линии:"), penWidthSpin_);
  chartLayout->addRow(QStringLiteral("Цвет линии:"), penColorSwatch_);
  pageTabs_->addTab(chart, QStringLiteral("График"));

  auto* other = new QWidget;
  loggingIntervalSpin_ = NumberField("loggingIntervalSpin", 1, 1000, 3, other);
  digitsSpin_ = NumberField("digitsSpin", 0, 15, 1, other);
  // Each step is stored and shown at once, so the value changes only by whole steps of the arrows.
  if (auto* text = digitsSpin_->findChild<QLineEdit*>()) text->setReadOnly(true);
  // Their captions are too long to share a row with the field in this narrow dialog.
  auto* otherLayout = PageLayout(other, QFormLayout::WrapAllRows);
  otherLayout->addRow(QStringLiteral("Интервал опроса, с:"), loggingIntervalSpin_);
  otherLayout->addRow(QStringLiteral("Цифр после запятой:"), digitsSpin_);
  pageTabs_->addTab(other, QStringLiteral("Прочее"));

  QHBoxLayout* buttons = OkCancelRow(this, okButton_, cancelButton_);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(nameEdit_);
  layout->addWidget(pageTabs_, 1);
  layout->addLayout(buttons);

  connect(zeroSpin_, &QSpinBox::valueChanged, this, &TRegisterPropertiesForm::UpdateFullScale);
  connect(notchSpin_, &QSpinBox::valueChanged, this, &TRegisterPropertiesForm::UpdateFullScale);
  connect(digitsSpin_, &QSpinBox::valueChanged, this, &TRegisterPropertiesForm::DigitsChange);
  connect(okButton_, &QPushButton::clicked, this, &TRegisterPropertiesForm::OkClick);

  UpdateFullScale();
  setFixedSize(kClientWidth, kClientHeight);
  InstallHelpShortcut(this, kHelpContext);
}

bool TRegisterPropertiesForm::ExecuteForPrinting(TRegisterNode& reg) {
  constexpr int pollingPage = 2;
  TRegisterNode* const before = reg_;
  SetRegister(&reg);
  if (pageTabs_->currentIndex() == pollingPage) pageTabs_->setCurrentIndex(0);
  pageTabs_->setTabVisible(pollingPage, false);
  const auto restore = qScopeGuard([&] {
    pageTabs_->setTabVisible(pollingPage, true);
    SetRegister(before);
  });
  return exec() == QDialog::Accepted;
}

void TRegisterPropertiesForm::SetRegister(TRegisterNode* reg) {
  reg_ = reg;
  Load();
}

int TRegisterPropertiesForm::Zero() const {
  return zeroSpin_->value();
}
void TRegisterPropertiesForm::SetZero(int value) {
  zeroSpin_->setValue(value);
}
int TRegisterPropertiesForm::Notch() const {
  return notchSpin_->value();
}
void TRegisterPropertiesForm::SetNotch(int value) {
  notchSpin_->setValue(value);
}
int TRegisterPropertiesForm::PenWidth() const {
  return penWidthSpin_->value();
}
void TRegisterPropertiesForm::SetPenWidth(int value) {
  penWidthSpin_->setValue(value);
}
int TRegisterPropertiesForm::PenColor() const {
  return penColorSwatch_->Color();
}
void TRegisterPropertiesForm::SetPenColor(int value) {
  penColorSwatch_->SetColor(value);
}
int TRegisterPropertiesForm::Digits() const {
  return digitsSpin_->value();
}
void TRegisterPropertiesForm::SetDigits(int value) {
  digitsSpin_->setValue(value);
}
int TRegisterPropertiesForm::LoggingInterval() const {
  return loggingIntervalSpin_->value();
}
void TRegisterPropertiesForm::SetLoggingInterval(int value) {
  loggingIntervalSpin_->setValue(value);
}
QString TRegisterPropertiesForm::Comments() const {
  return commentsEdit_->toPlainText();
}
void TRegisterPropertiesForm::SetComments(const QString& value) {
  commentsEdit_->setPlainText(value);
}
QString TRegisterPropertiesForm::RCaption() const {
  return nameEdit_->text();
}
void TRegisterPropertiesForm::SetRCaption(const QString& value) {
  nameEdit_->setText(value);
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
  pageTabs_->setCurrentIndex(0);
}

void TRegisterPropertiesForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    Load();
    nameEdit_->setFocus();
    nameEdit_->selectAll();
  }
  QDialog::showEvent(event);
}

void TRegisterPropertiesForm::UpdateFullScale() {
  fullScaleLabel_->setText(FullScaleText(Zero(), Notch()));
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
