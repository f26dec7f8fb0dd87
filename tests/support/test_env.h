#pragma once

#include <QString>

namespace kelta::test {

// Every test program runs in a private folder: HOME, the settings file and the serial
// device map all point into it, so no test ever touches the user's own files.
QString tempRoot();          // the private folder of this test program
QString settingsFilePath();  // value of KELTA_SETTINGS_FILE
QString serialMapDir();      // value of KELTA_SERIAL_MAP (created empty)
QString documentsDir();      // <HOME>/Documents

// Test-only switch: long waits (connect, watchdog, tag wait) may be scaled down. 1.0 = real.
void setTimeScale(double factor);

} // namespace kelta::test
