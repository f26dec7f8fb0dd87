#pragma once
// The window's progress panel as a test sees it: every percentage its bar showed, with the
// text beside it at that moment; and an action run once, from the event loop as a user's click
// would be, when the text first reads a given value.

#include "app/frmmodule.h"

#include <QObject>
#include <QProgressBar>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

namespace kelta::test {

class ProgressWatch {
public:
    struct Shown {
        int percent;
        QString text;
    };

    explicit ProgressWatch(TfrmModule& w) : w_(w) {
        QObject::connect(w.pgbProgress, &QProgressBar::valueChanged, &poll_, [this](int v) {
            // A busy bar or a reset one has no percentage to show.
            if (v >= 0 && w_.pgbProgress->maximum() > 0)
                shown.push_back({v, w_.lblProgress->text()});
        });
        poll_.setInterval(1);
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            if (!action_ || w_.lblProgress->text() != text_) return;
            poll_.stop();
            const auto a = std::move(action_);
            action_ = {};
            a();
        });
    }

    std::vector<int> percents() const {
        std::vector<int> out;
        for (const Shown& s : shown) out.push_back(s.percent);
        return out;
    }
    void clear() { shown.clear(); }

    // `action` runs once, after the panel's text first reads `text`.
    void when(const QString& text, std::function<void()> action) {
        text_ = text;
        action_ = std::move(action);
        poll_.start();
    }
    bool pending() const { return static_cast<bool>(action_); }

    std::vector<Shown> shown;

private:
    TfrmModule& w_;
    QTimer poll_;
    QString text_;
    std::function<void()> action_;
};

} // namespace kelta::test
