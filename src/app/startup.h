#pragma once
// Program start and end of the main window: FormCreate at the end of construction, FormShow at
// the first showing (control tables, stored settings, captions, language), FormClose when the
// window closes, and the Exit buttons.

#include <QList>
#include <QObject>
#include <QStringList>

namespace kelta {

class TfrmModule;

inline constexpr const char* kWindowCaption = "Kelta Utility_LR900 V0114 2014-04-28";

// The items of the configuration link's port list from the names of the system's serial
// ports: names holding "VCOM" are left out; from a name holding "COM" the text after its
// third character is read as a decimal number, and 1 ... 100 are listed as "COMn" in
// increasing order, each once. An empty result gives "COM1" ... "COM32".
QStringList serialPortItems(const QStringList& registeredNames);

// Every control of the window that carries a caption the language switch rewrites (buttons,
// check boxes, radio buttons, labels, panels, group boxes, tab sheets), in the window's
// order. Parts of composite widgets and of other windows (file dialogs) are not included.
QList<QObject*> captionedControls(TfrmModule& w);

void FormCreate(TfrmModule& w);
void FormShow(TfrmModule& w);
void FormClose(TfrmModule& w);
void btnExit01Click(TfrmModule& w);

// Restores the stored values into the window (one step of FormShow). A value that cannot be
// read as its type is skipped (its control keeps what it had) and named on stderr; the others
// are restored. A settings file above the size limit is refused: false, the refusal on stderr
// and in the status bar, every control at its default, the file left as it is.
bool RestoreSettings(TfrmModule& w);

// The status-bar text of a refused settings file.
inline constexpr const char* kSettingsRefusedText =
    "Settings file too large: not read, default settings in use";

} // namespace kelta
