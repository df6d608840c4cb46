// Pictures of the label properties, X-Y and password windows for the documentation.

#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <memory>

#include "Pictures.h"
#include "support/Child.h"
#include "ui/LabelPropertiesUnit.h"
#include "ui/OperatorInput.h"
#include "ui/PositionUnit.h"
#include "ui/config/PasswordUnit.h"
#include "ui/model/LabelDisplay.h"

namespace vexa::test {
namespace {

class TToolWindowPictures : public TPicturesTest {
 protected:
  void SetUp() override {
    TPicturesTest::SetUp();
    if (HasFatalFailure()) return;
    label = std::make_unique<TLabelDisplay>(nullptr);
    label->SetPrefix(QStringLiteral("Температура ="));
    label->SetValue(QStringLiteral("123,4"));
    label->SetUnits(QStringLiteral("°C"));
    TFont font;
    font.Assign(label->Font());
    font.SetName(QStringLiteral("DejaVu Sans"));
    font.SetSize(10);
    label->SetFont(font);
  }

  std::unique_ptr<TLabelDisplay> label;
};

TEST_F(TToolWindowPictures, LabelPropertiesXYAndPassword) {
  TLabelPropertiesForm properties;
  properties.SetLabel(label.get());
  ASSERT_TRUE(Activate(&properties));
  Save(&properties, "label-properties.png");
  properties.hide();

  TPositionForm position;
  position.SetLabel(label.get());
  ASSERT_TRUE(Activate(&position));
  Save(&position, "xy-window.png");
  position.hide();

  TPasswordDlg password(Current());
  ASSERT_TRUE(Activate(&password));
  TypeText(Child<QLineEdit>(password, "passwordEdit"), QStringLiteral("secret"));
  Save(&password, "password.png");
  password.hide();
}

}  // namespace
}  // namespace vexa::test
