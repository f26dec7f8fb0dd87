#pragma once
// Small probes the window tests share: bytes from hex text and a recorder of a panel's texts.

#include <QByteArray>
#include <QLabel>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace kelta::test {

inline std::vector<std::uint8_t> hexBytes(const char* text) {
    const QByteArray b = QByteArray::fromHex(text);
    return std::vector<std::uint8_t>(b.begin(), b.end());
}

// Every distinct text a panel shows, sampled by a timer while the window processes events.
class TextRecorder {
public:
    explicit TextRecorder(QLabel* panel) : panel_(panel) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { sample(); });
        timer_.start(2);
    }
    void sample() {
        const QString t = panel_->text();
        if (texts_.empty() || texts_.back() != t) texts_.push_back(t);
    }
    const std::vector<QString>& texts() {
        sample();
        return texts_;
    }
    bool saw(const QString& t) {
        sample();
        return std::find(texts_.begin(), texts_.end(), t) != texts_.end();
    }

private:
    QLabel* panel_;
    QTimer timer_;
    std::vector<QString> texts_;
};

} // namespace kelta::test
