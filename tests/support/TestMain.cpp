#include <gtest/gtest.h>

#include <QCoreApplication>

#include "support/TestSupport.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new vexa::test::TVexaEnvironment);  // gtest takes ownership
  return RUN_ALL_TESTS();
}
