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
  btUp = ArrowButton(Qt::UpArrow, this);
  btDown = ArrowButton(Qt::DownArrow, this);
  btUp->setObjectName(QStringLiteral("upButton"));
  btDown->setObjectName(QStringLiteral("downButton"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(btUp);
  layout->addWidget(btDown);
  QObject::connect(btUp, &QToolButton::clicked, this, [this] {
    if (OnStep) OnStep(1);
  });
  QObject::connect(btDown, &QToolButton::clicked, this, [this] {
    if (OnStep) OnStep(-1);
  });
}

TReportPropertiesForm::TReportPropertiesForm(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("ReportPropertiesForm"));
  setWindowTitle(QStringLiteral("Свойства отчета"));

  edName = new QLineEdit(QStringLiteral("Название"), this);
  edName->setObjectName(QStringLiteral("nameEdit"));
  pcPages = new QTabWidget(this);
  pcPages->setObjectName(QStringLiteral("pageTabs"));
  // All three page captions in the width of the dialog, none hidden behind scroll arrows.
  pcPages->setUsesScrollButtons(false);
  MakeTabsCompact(pcPages->tabBar());

  // "Длительности"
  auto* durations = new QWidget;
  cbAlign = new QCheckBox(QStringLiteral("Выравнивать отчет по периоду"), durations);
  cbAlign->setObjectName(QStringLiteral("alignCheckBox"));
  cbAlign->setChecked(true);
  cbShift = new QCheckBox(QStringLiteral("Начало смены в"), durations);
  cbShift->setObjectName(QStringLiteral("shiftCheckBox"));
  seShiftHour = new QSpinBox(durations);
  seShiftHour->setObjectName(QStringLiteral("shiftHourSpin"));
  seShiftHour->setRange(0, 23);
  // The hour changes by the arrows only, each step showing its word.
  if (auto* text = seShiftHour->findChild<QLineEdit*>()) text->setReadOnly(true);
  lbHourWord = new QLabel(QStringLiteral("часов"), durations);
  lbHourWord->setObjectName(QStringLiteral("hourWordLabel"));

  const QFont fieldFont = FieldFont();
  lbLegend = new QLabel(QStringLiteral("дд чч:мм:сс"), durations);
  lbLegend->setObjectName(QStringLiteral("legendLabel"));
  lbLegend->setFont(fieldFont);
  auto* duration = new TStepField("durationField", durations);
  auto* interval = new TStepField("intervalField", durations);
  edDuration = duration;
  edInterval = interval;
  udDuration = new TUpDown(durations);
  udDuration->setObjectName(QStringLiteral("durationStepper"));
  udInterval = new TUpDown(durations);
  udInterval->setObjectName(QStringLiteral("intervalStepper"));
  duration->Buttons = udDuration;
  interval->Buttons = udInterval;
  for (QLineEdit* field : {edDuration, edInterval}) {
    field->setFont(fieldFont);
    field->setFixedWidth(QFontMetrics(fieldFont).horizontalAdvance(QStringLiteral(" 00 00:00:00")) + 8);
  }

  auto* pointsCaption =
      new QLabel(QStringLiteral("Ожидаемое число точек в отчете ......................"), durations);
  // The dots run up to the number, however wide the font draws the words.
  pointsCaption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lbPointCount = new QLabel(durations);
  lbPointCount->setObjectName(QStringLiteral("pointCountLabel"));

  auto* shiftRow = new QHBoxLayout;
  shiftRow->setSpacing(4);
  shiftRow->addWidget(cbShift);
  shiftRow->addWidget(seShiftHour);
  shiftRow->addWidget(lbHourWord);
  shiftRow->addStretch();
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(2);
  grid->setVerticalSpacing(2);
  grid->addWidget(lbLegend, 0, 1);
  auto* durationCaption = new QLabel(QStringLiteral("Продолжительность\nотчета"), durations);
  auto* intervalCaption = new QLabel(QStringLiteral("Интервал опроса\nрегистров"), durations);
  // "Продолжительность" is the longest word of the page: a point smaller it fits beside its field.
  for (QLabel* caption : {durationCaption, intervalCaption}) caption->setFont(SmallerFont(caption->font()));
  grid->addWidget(durationCaption, 1, 0);
  grid->addWidget(edDuration, 1, 1);
  grid->addWidget(udDuration, 1, 2);
  grid->addWidget(intervalCaption, 2, 0);
  grid->addWidget(edInterval, 2, 1);
  grid->addWidget(udInterval, 2, 2);
  grid->setColumnStretch(0, 1);
  auto* pointsRow = new QHBoxLayout;
  pointsRow->setSpacing(2);
  pointsRow->addWidget(pointsCaption, 1);
  pointsRow->addWidget(lbPointCount);
  auto* durationsLayout = new QVBoxLayout(durations);
  durationsLayout->setContentsMargins(4, 4, 4, 4);
  durationsLayout->setSpacing(4);
  durationsLayout->addWidget(cbAlign);
  durationsLayout->addLayout(shiftRow);
  durationsLayout->addLayout(grid);
  durationsLayout->addStretch();
  durationsLayout->addLayout(pointsRow);
  pcPages->addTab(durations, QStringLiteral("Длительности"));

  // "Колонтитулы"
  auto* headers = new QWidget;
  meHeader = Memo("headerEdit");
  meFooter = Memo("footerEdit");
  auto* headersLayout = new QVBoxLayout(headers);
  headersLayout->setContentsMargins(4, 2, 4, 4);
  headersLayout->setSpacing(2);
  headersLayout->addWidget(Titled(QStringLiteral("Верхний"), meHeader));
  headersLayout->addWidget(Titled(QStringLiteral("Нижний"), meFooter));
  pcPages->addTab(headers, QStringLiteral("Колонтитулы"));

  // "Прочее"
  auto* other = new QWidget;
  auto* otherLayout = new QVBoxLayout(other);
  otherLayout->setContentsMargins(6, 4, 6, 4);
  otherLayout->addWidget(RadioGroup(QStringLiteral("Цикличность отчета"), "rgTrigger", rbPeriodic,
                                    QStringLiteral("периодический"), rbOneTime,
                                    QStringLiteral("однократный")));
  otherLayout->addWidget(RadioGroup(QStringLiteral("Сохранять в архиве"), "rgSave", rbSaveAuto,
                                    QStringLiteral("автоматически"), rbSaveNone,
                                    QStringLiteral("не сохранять")));
  rbPeriodic->setObjectName(QStringLiteral("periodicButton"));
  rbOneTime->setObjectName(QStringLiteral("oneTimeButton"));
  rbSaveAuto->setObjectName(QStringLiteral("saveAutoButton"));
  rbSaveNone->setObjectName(QStringLiteral("saveNoneButton"));
  otherLayout->addStretch();
  pcPages->addTab(other, QStringLiteral("Прочее"));

  QHBoxLayout* buttons = OkCancelRow(this, btOK, btCancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setSpacing(4);
  layout->addWidget(edName);
  layout->addWidget(pcPages, 1);
  layout->addLayout(buttons);

  udDuration->OnStep = [this](int delta) {
    settings_.StepDuration(delta);
    ShowSettings();
  };
  udInterval->OnStep = [this](int delta) {
    settings_.StepInterval(delta);
    ShowSettings();
  };
  connect(cbAlign, &QCheckBox::clicked, this, [this](bool on) {
    settings_.SetAlign(on);
    ShowSettings();
  });
  connect(cbShift, &QCheckBox::clicked, this, [this](bool on) {
    settings_.SetShift(on);
    ShowSettings();
  });
  connect(seShiftHour, &QSpinBox::valueChanged, this, [this](int hour) {
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
  choose(rbPeriodic, settings_.TriggerIndex, 0);
  choose(rbOneTime, settings_.TriggerIndex, 1);
  choose(rbSaveAuto, settings_.SaveIndex, 0);
  choose(rbSaveNone, settings_.SaveIndex, 1);
  connect(btOK, &QPushButton::clicked, this, &TReportPropertiesForm::OkClick);

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
  pcPages->setTabVisible(kDurationsPage, false);
  pcPages->setTabVisible(kOtherPage, false);
  pcPages->setCurrentIndex(kHeaderFooterPage);
  const auto restore = qScopeGuard([this] {
    pcPages->setTabVisible(kDurationsPage, true);
    pcPages->setTabVisible(kOtherPage, true);
  });
  return Execute(node);
}

void TReportPropertiesForm::Load(const TReportNode& node) {
  settings_ = TReportSettings::From(node);
  edName->setText(node.Caption());
  meHeader->setPlainText(node.Header().join(QLatin1Char('\n')));
  meFooter->setPlainText(node.Footer().join(QLatin1Char('\n')));
  ShowSettings();
  if (pcPages->currentIndex() != kHeaderFooterPage) pcPages->setCurrentIndex(kDurationsPage);
  edName->setFocus();
}

void TReportPropertiesForm::ShowSettings() {
  showing_ = true;
  const auto done = qScopeGuard([this] { showing_ = false; });
  cbAlign->setChecked(settings_.Align);
  const bool shiftAllowed = settings_.ShiftAllowed();
  cbShift->setEnabled(shiftAllowed);
  cbShift->setChecked(settings_.Shift);
  seShiftHour->setEnabled(shiftAllowed && settings_.Shift);
  seShiftHour->setValue(settings_.ShiftHour);
  lbHourWord->setEnabled(shiftAllowed);
  lbHourWord->setText(HourWord(settings_.ShiftHour));
  edDuration->setText(DurationFieldText(settings_.DurationIndex));
  edInterval->setText(IntervalFieldText(settings_.IntervalIndex));
  const int count = settings_.PointCount();
  lbPointCount->setText(QString::number(count));
  QPalette palette = lbPointCount->palette();
  palette.setColor(QPalette::WindowText,
                   PointCountInRange(count) ? this->palette().color(QPalette::WindowText) : QColor(Qt::red));
  lbPointCount->setPalette(palette);
  rbPeriodic->setChecked(settings_.TriggerIndex == 0);
  rbOneTime->setChecked(settings_.TriggerIndex == 1);
  rbSaveAuto->setChecked(settings_.SaveIndex == 0);
  rbSaveNone->setChecked(settings_.SaveIndex == 1);
}

void TReportPropertiesForm::OkClick() {
  if (node_ == nullptr) return;
  if (const QString question = PointCountQuestion(settings_.PointCount()); !question.isEmpty()) {
    if (ShowMessage(question, TMsgIcon::Question, mbYes | mbNo, mbYes) == mbYes) reject();
    return;
  }
  settings_.WriteTo(*node_);
  node_->SetCaption(edName->text());
  node_->SetHeader(LinesFromText(meHeader->toPlainText()));
  node_->SetFooter(LinesFromText(meFooter->toPlainText()));
  accept();
}

}  // namespace vexa
