// The window tests' entry point: one QApplication, offscreen unless a display is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Window downloads keep what they read in the long-term store: never the user's.
  const QTemporaryDir store_dir;
  qputenv("NORVANE_STORE", (store_dir.path() + "/store.sqlite").toUtf8());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
