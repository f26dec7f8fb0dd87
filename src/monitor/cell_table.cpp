#include "monitor/cell_table.h"

#include <algorithm>

namespace kelta::monitor {

namespace {
const QString kEmpty;
}

CellTable::CellTable(int cols) : cols_(std::max(cols, 1)) {
    rows_.emplace_back(static_cast<std::size_t>(cols_));
}

QString CellTable::text(int col, int row) const {
    return ref(col, row);
}

const QString& CellTable::ref(int col, int row) const {
    if (row < 0 || row >= rows() || col < 0 || col >= cols_) return kEmpty;
    return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void CellTable::notePending() {
    if (observer_) observer_->pendingChanged();
}

bool CellTable::setText(int col, int row, const QString& t) {
    if (row < 0 || row >= rows() || col < 0 || col >= cols_) return false;
    QString& cell = rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
    if (cell == t) return false;
    cell = t;
    noteChanged(col, row);
    return true;
}

bool CellTable::setText(int col, int row, std::string_view utf8) {
    if (row < 0 || row >= rows() || col < 0 || col >= cols_) return false;
    QString& cell = rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
    // Most cells of a report are what the tag's previous report said: an ASCII text is
    // compared where it stands, without making a string of it first.
    const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii && cell == QLatin1StringView(utf8.data(), static_cast<qsizetype>(utf8.size())))
        return false;
    QString t = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    if (cell == t) return false;
    cell = std::move(t);
    noteChanged(col, row);
    return true;
}

void CellTable::noteChanged(int col, int row) {
    if (row == 0) {
        headerDirty_ = true;
    } else if (row <= publishedRows_) {
        dirtyTop_ = std::min(dirtyTop_, row);
        dirtyBottom_ = std::max(dirtyBottom_, row);
        dirtyLeft_ = std::min(dirtyLeft_, col);
        dirtyRight_ = std::max(dirtyRight_, col);
    }
    notePending();
}

void CellTable::resizeRows(int count) {
    cols_ = count;
    for (auto& r : rows_) r.resize(static_cast<std::size_t>(count));
}

void CellTable::setCols(int count) {
    count = std::max(count, 1);
    if (count == cols_) return;
    if (observer_) observer_->aboutToChangeColumns(cols_, count);
    const int old = cols_;
    resizeRows(count);
    if (count < old) dirtyRight_ = std::min(dirtyRight_, cols_ - 1);
    if (observer_) observer_->columnsChanged();
}

void CellTable::setRows(int count) {
    count = std::max(count, 1);
    if (count < rows()) {
        const int dataRows = count - 1;
        if (dataRows < publishedRows_) {
            if (observer_) observer_->aboutToRemoveRows(dataRows, publishedRows_ - 1);
            rows_.resize(static_cast<std::size_t>(count));
            publishedRows_ = dataRows;
            if (observer_) observer_->rowsRemoved();
        } else {
            rows_.resize(static_cast<std::size_t>(count));
        }
        dirtyBottom_ = std::min(dirtyBottom_, publishedRows_);
        return;
    }
    if (count == rows()) return;
    rows_.reserve(static_cast<std::size_t>(count));
    while (rows() < count) rows_.emplace_back(static_cast<std::size_t>(cols_));
    notePending();
}

int CellTable::append() {
    rows_.emplace_back(static_cast<std::size_t>(cols_));
    notePending();
    return rows() - 1;
}

void CellTable::assign(const CellTable& other) {
    if (&other == this) return;
    setRows(1);
    setCols(other.cols());
    setRows(other.rows());
    for (int r = 0; r < other.rows(); ++r)
        for (int c = 0; c < other.cols(); ++c) setText(c, r, other.ref(c, r));
}

bool CellTable::pending() const {
    return publishedRows_ < rows() - 1 || headerDirty_ || dirtyTop_ <= dirtyBottom_;
}

CellTable::Changes CellTable::changes() const {
    Changes ch;
    ch.header = headerDirty_;
    ch.top = dirtyTop_;
    ch.bottom = dirtyBottom_;
    ch.left = dirtyLeft_;
    ch.right = dirtyRight_;
    const int dataRows = rows() - 1;
    if (dataRows > publishedRows_) {
        ch.newFirst = publishedRows_;
        ch.newLast = dataRows - 1;
    }
    return ch;
}

void CellTable::markPublished() {
    headerDirty_ = false;
    dirtyTop_ = INT_MAX;
    dirtyBottom_ = INT_MIN;
    dirtyLeft_ = INT_MAX;
    dirtyRight_ = INT_MIN;
    publishedRows_ = rows() - 1;
}

} // namespace kelta::monitor
