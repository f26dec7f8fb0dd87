#pragma once
// The main window. Its controls are public members named as the handlers use them, so a
// handler of the window writes `btnStart->setEnabled(false)`.

#include "app/controls_readtag.h"
#include "app/controls_setreader.h"
#include "app/controls_settag.h"
#include "app/controls_shell.h"

#include <QWidget>

namespace kelta {

class TfrmModule : public QWidget,
                   public ShellControls,
                   public ReadTagControls,
                   public SetReaderControls,
                   public SetTagControls {
    Q_OBJECT
public:
    explicit TfrmModule(QWidget* parent = nullptr);
    ~TfrmModule() override;

    // The window's own tag: 0 until the end of the first showing, 1 afterwards.
    int tag() const { return tagOf(this); }

private:
    void buildControls();
    void prepareWindow(); // construction steps after the controls exist
};

} // namespace kelta
