#pragma once
// The progress of a long operation beside the status bar: what it does now, a bar (busy while
// its end is not known) and Cancel. Esc anywhere in the window cancels too. A cancel only asks:
// the operation looks at cancelRequested() between its steps, or its cancel handler ends it.

#include "platform/progress.h"

#include <QObject>
#include <QPointer>
#include <functional>

namespace kelta {

struct ShellControls;

class ProgressPanel : public QObject {
public:
    ProgressPanel(ShellControls& controls, QWidget& window);
    ~ProgressPanel() override;
    ProgressPanel(const ProgressPanel&) = delete;
    ProgressPanel& operator=(const ProgressPanel&) = delete;

    // Shows the panel (when hidden) with `progress`. `onCancel`, when given, runs on Cancel or
    // Esc (an operation that does not poll, such as a monitoring run).
    void show(const Progress& progress, std::function<void()> onCancel = {});
    // Hides the panel and forgets a cancel request.
    void end();

    bool shown() const { return shown_; }
    bool cancelRequested() const { return cancelRequested_; }
    // What Cancel and Esc do while the panel is shown.
    void cancel();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ShellControls& c_;
    QPointer<QWidget> window_;
    bool shown_ = false;
    bool cancelRequested_ = false;
    std::function<void()> onCancel_;
};

} // namespace kelta
