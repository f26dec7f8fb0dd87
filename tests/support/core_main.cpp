// Entry of the test programs without a display: the isolated environment of test_main.cpp,
// then a QCoreApplication (no QApplication, no platform plugin), then the tests.
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir root(QDir::tempPath() + "/kelta-test-XXXXXX");
    if (!root.isValid()) return 2;
    const QString home = root.filePath("home");
    QDir().mkpath(home + "/Documents");
    QDir().mkpath(home + "/.config");
    QDir().mkpath(root.filePath("serial"));
    qputenv("KELTA_TEST_ROOT", root.path().toUtf8());
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_CONFIG_HOME", (home + "/.config").toUtf8());
    qputenv("KELTA_SETTINGS_FILE", root.filePath("LR900.ini").toUtf8());
    qputenv("KELTA_SERIAL_MAP", root.filePath("serial").toUtf8());

    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
