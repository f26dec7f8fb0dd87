#pragma once
// The main window. Its controls are public members named as the handlers use them, so a
// handler of the window writes `btnStart->setEnabled(false)`.

#include "app/controls_readtag.h"
#include "app/controls_setreader.h"
#include "app/controls_settag.h"
#include "app/controls_shell.h"

#include <QWidget>
#include <memory>

namespace kelta {

class SetTagPage;
namespace reader {
class ReaderLink;
}
namespace monitor {
class TagTables;
class RunController;
} // namespace monitor

class SetReaderHandlers;
class HistoryCharts;
class WindowLinkView;
class ProgressPanel;

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

    // The subsystems, each acting on the window's controls. Declared in creation order, so
    // they are destroyed in reverse, while every control still exists.
    std::unique_ptr<ProgressPanel> progressPanel;          // long operations: progress, Cancel
    std::unique_ptr<WindowLinkView> linkView;              // the window as the link sees it
    std::unique_ptr<reader::ReaderLink> readerLink;        // configuration link and its state
    std::unique_ptr<monitor::TagTables> tagTables;         // grids, lists, selection, files
    std::unique_ptr<monitor::RunController> runController; // monitoring runs
    std::unique_ptr<SetReaderHandlers> setReader;          // the "Set Reader" buttons
    std::unique_ptr<SetTagPage> setTagPage;                // tag commands and the exciter page
    std::unique_ptr<HistoryCharts> historyCharts;          // "History": the tag chart window

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool shownOnce_ = false;
    void createSubsystems();
    void buildControls();
    void prepareWindow(); // construction steps after the controls exist
};

} // namespace kelta
