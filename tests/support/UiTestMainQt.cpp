// main() of the dialog tests on Qt: one QApplication for the whole test
// program, offscreen unless the environment says otherwise.
#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

#include "ui/framework/qt/QtApplication.h"

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  varnel::InstallChineseTranslations(app);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
