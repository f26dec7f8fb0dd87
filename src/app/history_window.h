#pragma once
// The chart window of tag histories: one plot per quantity (RSSI, battery, temperature in
// °C, humidity in %, counter) over a time axis, one line per tag (per sensor slot for
// temperatures), several tags at once. The lines follow the history store live: a timer
// appends the samples the store got since the last refresh and drops those it dropped, twice
// a second, and only while the window is shown. The value under the pointer is
// shown below the plots; the plots can be saved as a PNG picture and the samples as CSV.

#include "monitor/proto/tag_record.h"
#include "monitor/tag_history.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <vector>

class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QValueAxis;

namespace kelta {

enum class HistoryQuantity { Rssi, Battery, Temperature, Humidity, Counter };
inline constexpr int kHistoryQuantities = 5;

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // How often the lines take the new samples: each time every changed line is laid out and
    // painted again, whatever the number of new points.
    static constexpr int kRefreshMs = 500;

    explicit HistoryWindow(const monitor::TagHistory& history, QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // Adds a tag to the chart (16 hex digits; a tag shown already is kept as it is) with what
    // the store holds of it; false for a text that is not a UID.
    bool addTag(const QString& uid);
    // The tags in the chart, in the order they were added.
    QStringList tags() const;
    // Every tag out of the chart.
    void clearTags();
    // Takes the samples the store got since the last refresh (the timer calls it).
    void refresh();

    // The line of a tag's quantity (temperatures: of a sensor slot); null while it has none.
    QLineSeries* series(const QString& uid, HistoryQuantity q,
                        monitor::SensorSlot slot = monitor::SensorSlot::D1H) const;
    QChart* chart(HistoryQuantity q) const;
    QChartView* chartView(HistoryQuantity q) const;
    // What the pointer at `viewPos` (coordinates of the plot's view) shows: the line, time
    // and value of the nearest point, empty outside the plot area or with no point.
    QString valueAt(HistoryQuantity q, const QPoint& viewPos) const;

    // The plots as a PNG picture; the samples of the chart's tags as CSV, one row per sample
    // (tags in chart order, oldest first). False when the file cannot be written.
    bool savePng(const QString& path);
    bool saveCsv(const QString& path) const;

    // Captions in the current language.
    void retranslate();

    // Asks for the name to save under (filter, suggested name); empty: cancelled.
    using ChooseFileFn = std::function<QString(const QString& filter, const QString& suggested)>;
    void setChooseFile(ChooseFileFn fn) { chooseFile_ = std::move(fn); }

    QLineEdit* edtHistoryUID = nullptr;
    QPushButton* btnHistoryAdd = nullptr;
    QPushButton* btnHistoryPNG = nullptr;
    QPushButton* btnHistoryCSV = nullptr;
    QLabel* lblHistoryValue = nullptr; // the value under the pointer
    QLabel* lblHistoryMsg = nullptr;   // what a save did

    void btnHistoryAddClick();
    void btnHistoryPNGClick();
    void btnHistoryCSVClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // One line: its points and the serial number of the sample each came from.
    struct Line {
        QLineSeries* series = nullptr;
        QList<QPointF> points;
        std::deque<std::uint64_t> serials;
        bool changed = false;
    };
    struct TagLines {
        monitor::TagHistory::Uid uid = 0;
        std::uint64_t next = 0; // serial of the first sample not taken yet
        int colour = 0;
        std::map<int, Line> lines; // by lineKey()
    };
    struct Plot {
        QChart* chart = nullptr;
        QChartView* view = nullptr;
        QDateTimeAxis* time = nullptr;
        QValueAxis* value = nullptr;
    };
    static int lineKey(HistoryQuantity q, monitor::SensorSlot slot);
    Line& lineFor(TagLines& tag, HistoryQuantity q, monitor::SensorSlot slot);
    bool refreshTag(TagLines& tag);
    void updateRanges();
    void showMessage(const QString& text);
    QString plotTitle(HistoryQuantity q) const;

    const monitor::TagHistory& history_;
    std::vector<TagLines> tags_;
    std::array<Plot, kHistoryQuantities> plots_{};
    QWidget* plotArea_ = nullptr;
    QTimer refresh_;
    int colours_ = 0;
    ChooseFileFn chooseFile_;
};

} // namespace kelta
