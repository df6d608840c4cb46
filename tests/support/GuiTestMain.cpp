#include <QApplication>
#include <gtest/gtest.h>

#include "support/TestSupport.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new vexa::test::TVexaEnvironment);  // gtest takes ownership
  return RUN_ALL_TESTS();
}
