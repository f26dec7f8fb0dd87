#include "support/test_env.h"

#include <QDir>

namespace kelta::test {

QString tempRoot() { return qEnvironmentVariable("KELTA_TEST_ROOT"); }
QString settingsFilePath() { return qEnvironmentVariable("KELTA_SETTINGS_FILE"); }
QString serialMapDir() { return qEnvironmentVariable("KELTA_SERIAL_MAP"); }
QString documentsDir() { return QDir(qEnvironmentVariable("HOME")).filePath("Documents"); }

void setTimeScale(double factor) {
    qputenv("KELTA_TIME_SCALE", QByteArray::number(factor));
}

} // namespace kelta::test
