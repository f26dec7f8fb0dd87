#pragma once
// Controls of the "Set Reader" page, named as the handlers use them.

#include "app/controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace kelta {

struct SetReaderControls {
};

// Creates the page's controls inside `page` and records them in `c`.
void buildSetReaderPage(SetReaderControls& c, TabSheet* page);

} // namespace kelta
