// The pages are drawn with Qt Gui alone, as vexa-cli draws them: no widgets, no display.

#include <gtest/gtest.h>

#include <QGuiApplication>

#include "ui/model/PersistentClasses.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  vexa::RegisterPersistentClasses();
  return RUN_ALL_TESTS();
}
