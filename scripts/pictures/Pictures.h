#pragma once
// The windows' pictures for the documentation: vexa-pictures, which scripts/screenshots runs with
// VEXA_SCREENSHOTS_DIR naming the folder they go to. Each picture is a gtest case, so a window that
// cannot be brought to the state it is drawn in fails its picture by name.

#include <QDir>
#include <QPixmap>
#include <QWidget>

#include "support/TestSupport.h"
#include "ui/OperatorInput.h"

namespace vexa::test {

class TPicturesTest : public TVexaTest {
 protected:
  void SetUp() override {
    TVexaTest::SetUp();
    folder = qEnvironmentVariable("VEXA_SCREENSHOTS_DIR");
    ASSERT_FALSE(folder.isEmpty()) << "VEXA_SCREENSHOTS_DIR names no folder";
    ASSERT_TRUE(QDir().mkpath(folder));
  }

  // The window as it is drawn now, once its pending events ran, into folder/name.
  void Save(QWidget* w, const QString& name) {
    ProcessEventsFor(100);
    const QString path = QDir(folder).filePath(name);
    const QPixmap picture = w->grab();
    EXPECT_EQ(picture.size(), w->size());
    EXPECT_TRUE(picture.save(path, "PNG")) << path.toStdString();
  }

  QString folder;
};

}  // namespace vexa::test
