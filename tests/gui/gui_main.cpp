// Runs the window tests headless on Qt's offscreen platform.
#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kesl"));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
