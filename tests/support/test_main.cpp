// Shared entry of the Qt test programs: an isolated environment, then a QApplication on the
// offscreen platform (unless the caller chose another), then the tests.
#include <QApplication>
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
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
