#include "app/progress_panel.h"

#include "app/controls_shell.h"

#include <QApplication>
#include <QKeyEvent>

namespace kelta {

ProgressPanel::ProgressPanel(ShellControls& controls, QWidget& window)
    : QObject(&window), c_(controls), window_(&window) {
    connect(c_.btnProgressCancel, &QPushButton::clicked, this, [this] { cancel(); });
}

ProgressPanel::~ProgressPanel() {
    if (shown_ && qApp) qApp->removeEventFilter(this);
}

void ProgressPanel::show(const Progress& progress, std::function<void()> onCancel) {
    if (onCancel) onCancel_ = std::move(onCancel);
    if (!window_) return;
    c_.lblProgress->setText(progress.step);
    // The whole text shows: the strip gives the panel no more than it asks for.
    c_.lblProgress->setMinimumWidth(c_.lblProgress->fontMetrics().horizontalAdvance(progress.step) +
                                    2 * c_.lblProgress->margin() + 6);
    const int percent = progress.percent();
    if (percent < 0) {
        c_.pgbProgress->setRange(0, 0); // busy: the end is not known
    } else {
        c_.pgbProgress->setRange(0, 100);
        c_.pgbProgress->setValue(percent);
    }
    if (shown_) return;
    shown_ = true;
    cancelRequested_ = false;
    c_.btnProgressCancel->setEnabled(true);
    c_.pnlProgress->show();
    // Esc reaches the focused control first, wherever it is in the window.
    qApp->installEventFilter(this);
}

void ProgressPanel::end() {
    if (qApp) qApp->removeEventFilter(this);
    shown_ = false;
    cancelRequested_ = false;
    onCancel_ = {};
    if (!window_) return;
    c_.pnlProgress->hide();
    // Empty again, so that a language switch finds no text of this operation to keep.
    c_.lblProgress->clear();
    setHint(c_.lblProgress, QString());
    c_.pgbProgress->setRange(0, 100);
    c_.pgbProgress->reset();
}

void ProgressPanel::cancel() {
    if (!shown_ || cancelRequested_) return;
    cancelRequested_ = true;
    c_.btnProgressCancel->setEnabled(false); // taken: the operation stops at its next step
    // The handler may end the operation, and this panel with it, at once.
    if (const auto handler = onCancel_) handler();
}

bool ProgressPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        const auto* widget = qobject_cast<QWidget*>(watched);
        if (shown_ && window_ && widget && widget->window() == window_) {
            cancel();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kelta
