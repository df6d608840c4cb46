#pragma once
// "Свойства ярлыка": how one value label looks (font, name before the value, units after it, text
// and background colours, frame). Every change goes to the label at once; there is no cancel.

#include <QColor>
#include <QDialog>
#include <functional>

#include "ui/parts/HelpUnit.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vexa {

class TLabelDisplay;
class TMainForm;

// A colour swatch: a rectangle filled with a colour, with or without a solid outline; reports the
// mouse button released over it.
class TLabelSwatch : public QWidget {
  Q_OBJECT
 public:
  explicit TLabelSwatch(QWidget* parent = nullptr);

  QColor Color() const { return color_; }
  void SetColor(const QColor& color);
  bool Outlined() const { return outlined_; }
  void SetOutlined(bool outlined);

  std::function<void(Qt::MouseButton)> OnRelease;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QColor color_ = Qt::white;
  bool outlined_ = true;
};

class TLabelPropertiesForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = hcLabelProperties;
  static constexpr int kClientWidth = 193;
  static constexpr int kClientHeight = 208;

  explicit TLabelPropertiesForm(TMainForm* mainForm = nullptr, QWidget* parent = nullptr);
  ~TLabelPropertiesForm() override;

  // The label to edit; set before the window is shown.
  void SetLabel(TLabelDisplay* label);
  TLabelDisplay* Label() const { return label_; }

  // The size the size box's text gives: a decimal integer, 6 when it is not one or is below 6.
  static int SizeFromText(const QString& text);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FillFromLabel();
  void FontNameChanged();
  void FontSizeChanged(const QString& text);
  void BackgroundReleased(Qt::MouseButton button);
  void FontColorReleased(Qt::MouseButton button);
  // The colour dialog preset to `initial`; true when the operator confirmed a colour.
  bool PickColor(const QColor& initial, QColor* chosen);

  QComboBox* fontNameBox_ = nullptr;
  QComboBox* fontSizeBox_ = nullptr;
  QLineEdit* prefixEdit_ = nullptr;
  QLineEdit* unitsEdit_ = nullptr;
  TLabelSwatch* fontColorSwatch_ = nullptr;
  TLabelSwatch* backgroundSwatch_ = nullptr;  // background; its outline is the label's frame
  QPushButton* okButton_ = nullptr;
  TLabelDisplay* label_ = nullptr;
  bool filling_ = false;  // the boxes are being filled from the label, not edited
};

}  // namespace vexa
