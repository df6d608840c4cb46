#include "ui/LabelPropertiesUnit.h"

#include <QColorDialog>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

#include "core/Services.h"
#include "ui/MainUnit.h"
#include "ui/model/LabelDisplay.h"
#include "ui/parts/Colors.h"
#include "ui/parts/HelpUnit.h"
#include "ui/parts/ToolWindowCount.h"

namespace vexa {

namespace {

const QStringList kFontSizes{"6", "7", "8", "9", "10", "12", "14", "16", "18", "20", "22", "24"};
constexpr int kSmallestSize = 6;
// Above this many points the font's pixel height no longer fits the stored integer.
constexpr int64_t kLargestSize = int64_t(INT32_MAX) * 72 / 96;

}  // namespace

// ---- TLabelSwatch -------------------------------------------------------------------------------

TLabelSwatch::TLabelSwatch(QWidget* parent) : QWidget(parent) {
  setCursor(Qt::PointingHandCursor);
}

void TLabelSwatch::SetColor(const QColor& color) {
  if (color == color_) return;
  color_ = color;
  update();
}

void TLabelSwatch::SetOutlined(bool outlined) {
  if (outlined == outlined_) return;
  outlined_ = outlined;
  update();
}

void TLabelSwatch::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), color_);
  if (outlined_) {
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
  }
}

void TLabelSwatch::mouseReleaseEvent(QMouseEvent* event) {
  // Released outside the swatch is no click.
  if (rect().contains(event->position().toPoint()) && OnRelease) OnRelease(event->button());
  event->accept();
}

// ---- TLabelPropertiesForm -----------------------------------------------------------------------

TLabelPropertiesForm::TLabelPropertiesForm(TMainForm* mainForm, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Свойства ярлыка"));
  setFixedSize(kClientWidth, kClientHeight);
  new TToolWindowCount(this, SessionOf(mainForm));  // owned by the window
  InstallHelpShortcut(this, kHelpContext);

  constexpr int margin = 8;
  constexpr int inner = kClientWidth - 2 * margin;
  constexpr int sizeWidth = 52;

  fontNameBox_ = new QComboBox(this);
  fontNameBox_->setObjectName(QStringLiteral("fontNameBox"));
  fontNameBox_->setEditable(false);
  fontNameBox_->setGeometry(margin, 8, inner - sizeWidth - 4, 24);
  fontNameBox_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  fontNameBox_->setMinimumContentsLength(6);

  fontSizeBox_ = new QComboBox(this);
  fontSizeBox_->setObjectName(QStringLiteral("fontSizeBox"));
  fontSizeBox_->setEditable(true);
  fontSizeBox_->addItems(kFontSizes);
  fontSizeBox_->setInsertPolicy(QComboBox::NoInsert);
  fontSizeBox_->setGeometry(kClientWidth - margin - sizeWidth, 8, sizeWidth, 24);

  auto caption = [this](const QString& text, int y) {
    auto* l = new QLabel(text, this);
    l->setGeometry(margin, y, inner, 16);
    return l;
  };
  QLabel* lbPrefix = caption(QStringLiteral("Название:"), 38);
  prefixEdit_ = new QLineEdit(this);
  prefixEdit_->setObjectName(QStringLiteral("prefixEdit"));
  prefixEdit_->setGeometry(margin, 55, inner, 22);
  lbPrefix->setBuddy(prefixEdit_);

  QLabel* lbUnits = caption(QStringLiteral("Единица измерения:"), 82);
  unitsEdit_ = new QLineEdit(this);
  unitsEdit_->setObjectName(QStringLiteral("unitsEdit"));
  unitsEdit_->setGeometry(margin, 99, inner, 22);
  lbUnits->setBuddy(unitsEdit_);

  constexpr int swatchWidth = 40;
  constexpr int swatchLeft = kClientWidth - margin - swatchWidth;
  QLabel* lbFontColor = caption(QStringLiteral("Цвет надписи:"), 130);
  lbFontColor->setFixedWidth(swatchLeft - margin - 4);
  fontColorSwatch_ = new TLabelSwatch(this);
  fontColorSwatch_->setObjectName(QStringLiteral("fontColorSwatch"));
  fontColorSwatch_->setGeometry(swatchLeft, 128, swatchWidth, 20);

  QLabel* lbColor = caption(QStringLiteral("Цвет фона/рамка:"), 156);
  lbColor->setFixedWidth(swatchLeft - margin - 4);
  backgroundSwatch_ = new TLabelSwatch(this);
  backgroundSwatch_->setObjectName(QStringLiteral("backgroundSwatch"));
  backgroundSwatch_->setGeometry(swatchLeft, 154, swatchWidth, 20);
  backgroundSwatch_->setToolTip(QStringLiteral("Левая кнопка мыши - цвет фона, правая - рамка"));

  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setObjectName(QStringLiteral("okButton"));
  okButton_->setDefault(true);
  okButton_->setGeometry((kClientWidth - 75) / 2, 179, 75, 25);

  connect(prefixEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!filling_ && label_) label_->SetPrefix(text);
  });
  connect(unitsEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!filling_ && label_) label_->SetUnits(text);
  });
  connect(fontNameBox_, &QComboBox::currentIndexChanged, this, [this] { FontNameChanged(); });
  // Typed into the box or chosen from its list: both change the edit text.
  connect(fontSizeBox_, &QComboBox::editTextChanged, this,
          [this](const QString& text) { FontSizeChanged(text); });
  backgroundSwatch_->OnRelease = [this](Qt::MouseButton b) { BackgroundReleased(b); };
  fontColorSwatch_->OnRelease = [this](Qt::MouseButton b) { FontColorReleased(b); };
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
}

TLabelPropertiesForm::~TLabelPropertiesForm() = default;

void TLabelPropertiesForm::SetLabel(TLabelDisplay* label) {
  label_ = label;
  if (isVisible()) FillFromLabel();
}

int TLabelPropertiesForm::SizeFromText(const QString& text) {
  const std::optional<int64_t> size = StrToInt(text, INT32_MIN, kLargestSize);
  if (!size || *size < kSmallestSize) return kSmallestSize;
  return static_cast<int>(*size);
}

void TLabelPropertiesForm::showEvent(QShowEvent* event) {
  FillFromLabel();
  QDialog::showEvent(event);
}

void TLabelPropertiesForm::FillFromLabel() {
  filling_ = true;
  // The font list is read again at each showing: fonts may have been installed meanwhile.
  QStringList families = QFontDatabase::families();
  const QString name = label_ ? label_->Font().Name() : QString();
  // A label made elsewhere may name a font this computer lacks; it stays selectable as it is.
  if (!name.isEmpty() && !families.contains(name)) {
    families << name;
    families.sort(Qt::CaseInsensitive);
  }
  fontNameBox_->clear();
  fontNameBox_->addItems(families);
  fontNameBox_->setCurrentIndex(fontNameBox_->findText(name));

  fontSizeBox_->setCurrentIndex(-1);
  fontSizeBox_->setEditText(label_ ? QString::number(label_->Font().Size()) : QString());
  unitsEdit_->setText(label_ ? UnitsShown(label_->Units()) : QString());
  prefixEdit_->setText(label_ ? label_->Prefix() : QString());
  backgroundSwatch_->SetColor(ToQColor(label_ ? label_->Color() : 0xFFFFFF));
  backgroundSwatch_->SetOutlined(!label_ || label_->BorderStyle() != sbsNone);
  fontColorSwatch_->SetColor(ToQColor(label_ ? label_->Font().Color() : 0));
  filling_ = false;
  prefixEdit_->setFocus();
}

void TLabelPropertiesForm::FontNameChanged() {
  if (filling_ || !label_ || fontNameBox_->currentIndex() < 0) return;
  TFont font;
  font.Assign(label_->Font());
  font.SetName(fontNameBox_->currentText());
  label_->SetFont(font);
}

void TLabelPropertiesForm::FontSizeChanged(const QString& text) {
  if (filling_ || !label_) return;
  TFont font;
  font.Assign(label_->Font());
  font.SetSize(SizeFromText(text));
  label_->SetFont(font);
}

void TLabelPropertiesForm::BackgroundReleased(Qt::MouseButton button) {
  if (!label_) return;
  if (button == Qt::LeftButton) {
    QColor chosen;
    if (!PickColor(ToQColor(label_->Color()), &chosen)) return;
    label_->SetColor(FromQColor(chosen));
    backgroundSwatch_->SetColor(chosen);
  } else if (button == Qt::RightButton) {
    const bool framed = !backgroundSwatch_->Outlined();
    backgroundSwatch_->SetOutlined(framed);
    label_->SetBorderStyle(framed ? sbsSingle : sbsNone);
  }
}

void TLabelPropertiesForm::FontColorReleased(Qt::MouseButton) {
  if (!label_) return;
  QColor chosen;
  if (!PickColor(ToQColor(label_->Font().Color()), &chosen)) return;
  TFont font;
  font.Assign(label_->Font());
  font.SetColor(FromQColor(chosen));
  label_->SetFont(font);
  fontColorSwatch_->SetColor(chosen);
}

bool TLabelPropertiesForm::PickColor(const QColor& initial, QColor* chosen) {
  QColorDialog dialog(initial, this);
  // The same dialog on every desktop, and one that tests can answer.
  dialog.setOption(QColorDialog::DontUseNativeDialog);
  dialog.setWindowTitle(QStringLiteral("Цвет"));
  if (dialog.exec() != QDialog::Accepted) return false;
  const QColor c = dialog.selectedColor();
  if (!c.isValid()) return false;
  *chosen = c;
  return true;
}

}  // namespace vexa
