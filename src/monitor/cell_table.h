#pragma once
// A table of text cells, row 0 holding the column headers: the rows of the tag store that a
// grid on the window shows. The table keeps what changed since its view last looked (rows
// appended, a rectangle of rewritten cells, the header row), so a view refreshes only that.
// Shrinking and column changes are told to the view before and after they happen.

#include <QString>
#include <climits>
#include <string_view>
#include <vector>

namespace kelta::monitor {

class CellTable {
public:
    // The view of a table (a grid's model). Every call comes from inside the table's setters.
    class Observer {
    public:
        virtual ~Observer() = default;
        virtual void aboutToChangeColumns(int oldCount, int newCount) = 0;
        virtual void columnsChanged() = 0;
        // Published data rows first ... last (0-based, without the header row) go away.
        virtual void aboutToRemoveRows(int first, int last) = 0;
        virtual void rowsRemoved() = 0;
        // Something waits to be published.
        virtual void pendingChanged() = 0;
    };

    explicit CellTable(int cols = 5);

    int cols() const { return cols_; }
    int rows() const { return static_cast<int>(rows_.size()); } // including the header row

    QString text(int col, int row) const;
    const QString& ref(int col, int row) const;
    // Returns true when the cell changed.
    bool setText(int col, int row, const QString& t);
    // The same for a UTF-8 text; no string is made when the cell already holds it.
    bool setText(int col, int row, std::string_view utf8);
    void setCols(int count);
    void setRows(int count);
    int append(); // one empty row, its index
    // The same rows and cells as `other` (the view is told as for any other change).
    void assign(const CellTable& other);

    void setObserver(Observer* o) { observer_ = o; }
    Observer* observer() const { return observer_; }

    // What a view has not shown yet.
    struct Changes {
        bool header = false;
        int top = INT_MAX, bottom = INT_MIN, left = INT_MAX, right = INT_MIN; // data rows 1..
        int newFirst = 0, newLast = -1; // data rows appended (0-based view rows)
        bool cells() const { return top <= bottom && left <= right; }
    };
    bool pending() const;
    // The changes since the view last published; markPublished() then counts every row and
    // cell as shown.
    Changes changes() const;
    void markPublished();
    // Data rows the view shows.
    int publishedRows() const { return publishedRows_; }

private:
    void resizeRows(int count);
    void notePending();
    void noteChanged(int col, int row);

    std::vector<std::vector<QString>> rows_;
    int cols_;
    int publishedRows_ = 0;
    bool headerDirty_ = false;
    int dirtyTop_ = INT_MAX, dirtyBottom_ = INT_MIN, dirtyLeft_ = INT_MAX, dirtyRight_ = INT_MIN;
    Observer* observer_ = nullptr;
};

} // namespace kelta::monitor
