#pragma once
// Controls of the "Set TAG" page, named as the handlers use them.

#include "app/controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

namespace kelta {

struct SetTagControls {
};

// Creates the page's controls inside `page` and records them in `c`.
void buildSetTagPage(SetTagControls& c, TabSheet* page);

} // namespace kelta
