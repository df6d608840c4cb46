#include "reports/gui/ReportPropertiesUnit.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "core/Services.h"
#include "reports/model/ReportNode.h"
#include "ui/parts/CompactTabStyle.h"
#include "ui/parts/DialogButtons.h"
#include "ui/parts/Tell.h"

namespace vexa {

namespace {

// A read-only field its up/down buttons step; the arrow keys step it too.
class TStepField : public QLineEdit {
 public:
  TStepField(const char* name, QWidget* parent) : QLineEdit(parent) {
    setObjectName(QString::fromLatin1(name));
    setReadOnly(true);
  }
  TUpDown* Buttons = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const int delta = event->key() == Qt::Key_Up ? 1 : event->key() == Qt::Key_Down ? -1 : 0;
    if (delta != 0 && Buttons != nullptr && Buttons->OnStep) {
      Buttons->OnStep(delta);
      return;
    }
    QLineEdit::keyPressEvent(event);
  }
};

QFont SmallerFont(QFont font) {
  if (font.pointSize() > 7) font.setPointSize(font.pointSize() - 1);
  return font;
}

QToolButton* ArrowButton(Qt::ArrowType arrow, QWidget* parent) {
  auto* b = new QToolButton(parent);
  b->setArrowType(arrow);
  b->setAutoRepeat(true);
  b->setFocusPolicy(Qt::NoFocus);
  b->setFixedSize(16, 11);
  return b;
}

QFont FieldFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPixelSize(13);
  return font;
}

QPlainTextEdit* Memo(const char* name) {
  auto* memo = new QPlainTextEdit;
  memo->setObjectName(QString::fromLatin1(name));
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  return memo;
}

QGroupBox* Titled(const QString& title, QWidget* inside) {
  auto* box = new QGroupBox(title);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(4, 2, 4, 4);
  layout->addWidget(inside);
  return box;
}

QGroupBox* RadioGroup(const QString& title, const char* name, QRadioButton*& first, const QString& firstText,
                      QRadioButton*& second, const QString& secondText) {
  auto* box = new QGroupBox(title);
  box->setObjectName(QString::fromLatin1(name));
  first = new QRadioButton(firstText, box);
  second = new QRadioButton(secondText, box);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(8, 4, 8, 4);
  layout->addWidget(first);
  layout->addWidget(second);
  return box;
}

}  // namespace

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
  upButton_ = ArrowButton(Qt::UpArrow, this);
  downButton_ = ArrowButton(Qt::DownArrow, this);
  upButton_->setObjectName(QStringLiteral("upButton"));
  downButton_->setObjectName(QStringLiteral("downButton"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(upButton_);
  layout->addWidget(downButton_);
  QObject::connect(upButton_, &QToolButton::clicked, this, [this] {
    if (OnStep) OnStep(1);
  });
  QObject::connect(downButton_, &QToolButton::clicked, this, [this] {
    if (OnStep) OnStep(-1);
  });
}

TReportPropertiesForm::TReportPropertiesForm(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("ReportPropertiesForm"));
  setWindowTitle(QStringLiteral("Свойства отчета"));

  nameEdit_ = new QLineEdit(QStringLiteral("Название"), this);
  nameEdit_->setObjectName(QStringLiteral("nameEdit"));
  pageTabs_ = new QTabWidget(this);
  pageTabs_->setObjectName(QStringLiteral("pageTabs"));
  // All three page captions in the width of the dialog, none hidden behind scroll arrows.
  pageTabs_->setUsesScrollButtons(false);
  MakeTabsCompact(pageTabs_->tabBar());

  // "Длительности"
  auto* durations = new QWidget;
  alignCheckBox_ = new QCheckBox(QStringLiteral("Выравнивать отчет по периоду"), durations);
  alignCheckBox_->setObjectName(QStringLiteral("alignCheckBox"));
  alignCheckBox_->setChecked(true);
  shiftCheckBox_ = new QCheckBox(QStringLiteral("Начало смены в"), durations);
  shiftCheckBox_->setObjectName(QStringLiteral("shiftCheckBox"));
  shiftHourSpin_ = new QSpinBox(durations);
  shiftHourSpin_->setObjectName(QStringLiteral("shiftHourSpin"));
  shiftHourSpin_->setRange(0, 23);
  // The hour changes by the arrows only, each step showing its word.
  if (auto* text = shiftHourSpin_->findChild<QLineEdit*>()) text->setReadOnly(true);
  hourWordLabel_ = new QLabel(QStringLiteral("часов"), durations);
  hourWordLabel_->setObjectName(QStringLiteral("hourWordLabel"));

  const QFont fieldFont = FieldFont();
  legendLabel_ = new QLabel(QStringLiteral("дд чч:мм:сс"), durations);
  legendLabel_->setObjectName(QStringLiteral("legendLabel"));
  legendLabel_->setFont(fieldFont);
  auto* duration = new TStepField("durationField", durations);
  auto* interval = new TStepField("intervalField", durations);
  durationEdit_ = duration;
  intervalEdit_ = interval;
  durationUpDown_ = new TUpDown(durations);
  durationUpDown_->setObjectName(QStringLiteral("durationStepper"));
  intervalUpDown_ = new TUpDown(durations);
  intervalUpDown_->setObjectName(QStringLiteral("intervalStepper"));
  duration->Buttons = durationUpDown_;
  interval->Buttons = intervalUpDown_;
  for (QLineEdit* field : {durationEdit_, intervalEdit_}) {
    field->setFont(fieldFont);
    field->setFixedWidth(QFontMetrics(fieldFont).horizontalAdvance(QStringLiteral(" 00 00:00:00")) + 8);
  }

  auto* pointsCaption =
      new QLabel(QStringLiteral("Ожидаемое число точек в отчете ......................"), durations);
  // The dots run up to the number, however wide the font draws the words.
  pointsCaption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  pointCountLabel_ = new QLabel(durations);
  pointCountLabel_->setObjectName(QStringLiteral("pointCountLabel"));

  auto* shiftRow = new QHBoxLayout;
  shiftRow->setSpacing(4);
  shiftRow->addWidget(shiftCheckBox_);
  shiftRow->addWidget(shiftHourSpin_);
  shiftRow->addWidget(hourWordLabel_);
  shiftRow->addStretch();
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(2);
  grid->setVerticalSpacing(2);
  grid->addWidget(legendLabel_, 0, 1);
  auto* durationCaption = new QLabel(QStringLiteral("Продолжительность\nотчета"), durations);
  auto* intervalCaption = new QLabel(QStringLiteral("Интервал опроса\nрегистров"), durations);
  // "Продолжительность" is the longest word of the page: a point smaller it fits beside its field.
  for (QLabel* caption : {durationCaption, intervalCaption}) caption->setFont(SmallerFont(caption->font()));
  grid->addWidget(durationCaption, 1, 0);
  grid->addWidget(durationEdit_, 1, 1);
  grid->addWidget(durationUpDown_, 1, 2);
  grid->addWidget(intervalCaption, 2, 0);
  grid->addWidget(intervalEdit_, 2, 1);
  grid->addWidget(intervalUpDown_, 2, 2);
  grid->setColumnStretch(0, 1);
  auto* pointsRow = new QHBoxLayout;
  pointsRow->setSpacing(2);
  pointsRow->addWidget(pointsCaption, 1);
  pointsRow->addWidget(pointCountLabel_);
  auto* durationsLayout = new QVBoxLayout(durations);
  durationsLayout->setContentsMargins(4, 4, 4, 4);
  durationsLayout->setSpacing(4);
  durationsLayout->addWidget(alignCheckBox_);
  durationsLayout->addLayout(shiftRow);
  durationsLayout->addLayout(grid);
  durationsLayout->addStretch();
  durationsLayout->addLayout(pointsRow);
  pageTabs_->addTab(durations, QStringLiteral("Длительности"));

  // "Колонтитулы"
  auto* headers = new QWidget;
  headerEdit_ = Memo("headerEdit");
  footerEdit_ = Memo("footerEdit");
  auto* headersLayout = new QVBoxLayout(headers);
  headersLayout->setContentsMargins(4, 2, 4, 4);
  headersLayout->setSpacing(2);
  headersLayout->addWidget(Titled(QStringLiteral("Верхний"), headerEdit_));
  headersLayout->addWidget(Titled(QStringLiteral("Нижний"), footerEdit_));
  pageTabs_->addTab(headers, QStringLiteral("Колонтитулы"));

  // "Прочее"
  auto* other = new QWidget;
  auto* otherLayout = new QVBoxLayout(other);
  otherLayout->setContentsMargins(6, 4, 6, 4);
  otherLayout->addWidget(RadioGroup(QStringLiteral("Цикличность отчета"), "rgTrigger", periodicButton_,
                                    QStringLiteral("периодический"), oneTimeButton_,
                                    QStringLiteral("однократный")));
  otherLayout->addWidget(RadioGroup(QStringLiteral("Сохранять в архиве"), "rgSave", saveAutoButton_,
                                    QStringLiteral("автоматически"), saveNoneButton_,
                                    QStringLiteral("не сохранять")));
  periodicButton_->setObjectName(QStringLiteral("periodicButton"));
  oneTimeButton_->setObjectName(QStringLiteral("oneTimeButton"));
  saveAutoButton_->setObjectName(QStringLiteral("saveAutoButton"));
  saveNoneButton_->setObjectName(QStringLiteral("saveNoneButton"));
  otherLayout->addStretch();
  pageTabs_->addTab(other, QStringLiteral("Прочее"));

  QHBoxLayout* buttons = OkCancelRow(this, okButton_, cancelButton_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(nameEdit_);
  layout->addWidget(pageTabs_, 1);
  layout->addLayout(buttons);

  durationUpDown_->OnStep = [this](int delta) {
    settings_.StepDuration(delta);
    ShowSettings();
  };
  intervalUpDown_->OnStep = [this](int delta) {
    settings_.StepInterval(delta);
    ShowSettings();
  };
  connect(alignCheckBox_, &QCheckBox::clicked, this, [this](bool on) {
    settings_.SetAlign(on);
    ShowSettings();
  });
  connect(shiftCheckBox_, &QCheckBox::clicked, this, [this](bool on) {
    settings_.SetShift(on);
    ShowSettings();
  });
  connect(shiftHourSpin_, &QSpinBox::valueChanged, this, [this](int hour) {
    if (showing_) return;
    settings_.ShiftHour = hour;
    ShowSettings();
  });
  const auto choose = [this](QRadioButton* button, int& field, int value) {
    connect(button, &QRadioButton::clicked, this, [this, &field, value] {
      field = value;
      ShowSettings();
    });
  };
  choose(periodicButton_, settings_.TriggerIndex, 0);
  choose(oneTimeButton_, settings_.TriggerIndex, 1);
  choose(saveAutoButton_, settings_.SaveIndex, 0);
  choose(saveNoneButton_, settings_.SaveIndex, 1);
  connect(okButton_, &QPushButton::clicked, this, &TReportPropertiesForm::OkClick);

  ShowSettings();
  setFixedSize(kClientWidth, kClientHeight);
  InstallHelpShortcut(this, kHelpContext);
}

bool TReportPropertiesForm::Execute(TReportNode& node) {
  node_ = &node;
  const auto done = qScopeGuard([this] { node_ = nullptr; });
  Load(node);
  return exec() == QDialog::Accepted;
}

bool TReportPropertiesForm::ExecuteHeaderFooter(TReportNode& node) {
  pageTabs_->setTabVisible(kDurationsPage, false);
  pageTabs_->setTabVisible(kOtherPage, false);
  pageTabs_->setCurrentIndex(kHeaderFooterPage);
  const auto restore = qScopeGuard([this] {
    pageTabs_->setTabVisible(kDurationsPage, true);
    pageTabs_->setTabVisible(kOtherPage, true);
  });
  return Execute(node);
}

void TReportPropertiesForm::Load(const TReportNode& node) {
  settings_ = TReportSettings::From(node);
  nameEdit_->setText(node.Caption());
  headerEdit_->setPlainText(node.Header().join(QLatin1Char('\n')));
  footerEdit_->setPlainText(node.Footer().join(QLatin1Char('\n')));
  ShowSettings();
  if (pageTabs_->currentIndex() != kHeaderFooterPage) pageTabs_->setCurrentIndex(kDurationsPage);
  nameEdit_->setFocus();
}

void TReportPropertiesForm::ShowSettings() {
  showing_ = true;
  const auto done = qScopeGuard([this] { showing_ = false; });
  alignCheckBox_->setChecked(settings_.Align);
  const bool shiftAllowed = settings_.ShiftAllowed();
  shiftCheckBox_->setEnabled(shiftAllowed);
  shiftCheckBox_->setChecked(settings_.Shift);
  shiftHourSpin_->setEnabled(shiftAllowed && settings_.Shift);
  shiftHourSpin_->setValue(settings_.ShiftHour);
  hourWordLabel_->setEnabled(shiftAllowed);
  hourWordLabel_->setText(HourWord(settings_.ShiftHour));
  durationEdit_->setText(DurationFieldText(settings_.DurationIndex));
  intervalEdit_->setText(IntervalFieldText(settings_.IntervalIndex));
  const int count = settings_.PointCount();
  pointCountLabel_->setText(QString::number(count));
  QPalette palette = pointCountLabel_->palette();
  palette.setColor(QPalette::WindowText,
                   PointCountInRange(count) ? this->palette().color(QPalette::WindowText) : QColor(Qt::red));
  pointCountLabel_->setPalette(palette);
  periodicButton_->setChecked(settings_.TriggerIndex == 0);
  oneTimeButton_->setChecked(settings_.TriggerIndex == 1);
  saveAutoButton_->setChecked(settings_.SaveIndex == 0);
  saveNoneButton_->setChecked(settings_.SaveIndex == 1);
}

void TReportPropertiesForm::OkClick() {
  if (node_ == nullptr) return;
  if (const QString question = PointCountQuestion(settings_.PointCount()); !question.isEmpty()) {
    if (ShowMessage(question, TMsgIcon::Question, mbYes | mbNo, mbYes) == mbYes) reject();
    return;
  }
  settings_.WriteTo(*node_);
  node_->SetCaption(nameEdit_->text());
  node_->SetHeader(LinesFromText(headerEdit_->toPlainText()));
  node_->SetFooter(LinesFromText(footerEdit_->toPlainText()));
  accept();
}

}  // namespace vexa
