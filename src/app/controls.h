#pragma once
// The control kit of the main window. Every control carries an integer tag and a text hint
// (dynamic properties "tag" and "hint"), because the handlers keep state in both; captioned
// controls are re-captioned by the language switch through captionOf/setCaption.

#include <QColor>
#include <QLabel>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QTableView>
#include <QWidget>

class QTimer;

namespace kelta {

int tagOf(const QObject* control);
void setTag(QObject* control, int tag);
QString hintOf(const QObject* control);
void setHint(QObject* control, const QString& hint);

// Caption of a button, check box, label, panel, group box or tab sheet; empty for others.
QString captionOf(const QObject* control);
void setCaption(QObject* control, const QString& caption);
// True for the classes that carry a caption (the ones the language switch re-captions).
bool isCaptioned(const QObject* control);

// A panel: a framed area with a centred caption that may also hold child controls.
class Panel : public QLabel {
    Q_OBJECT
public:
    explicit Panel(const QString& caption = {}, QWidget* parent = nullptr);
    // Background colour of the panel ("Color"); invalid colour = the style's default.
    void setColor(const QColor& color);
    QColor color() const { return color_; }
    // A panel holding controls is as large as its layout needs.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QColor color_;
};

// A shape: a small painted rectangle whose brush colour is the state it shows.
class Shape : public QWidget {
    Q_OBJECT
public:
    explicit Shape(QWidget* parent = nullptr);
    void setBrushColor(const QColor& color);
    QColor brushColor() const { return brush_; }
    QSize sizeHint() const override { return {24, 24}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor brush_{Qt::white};
};

// A page of a PageControl. Its caption is the tab's text.
class TabSheet : public QWidget {
    Q_OBJECT
public:
    explicit TabSheet(const QString& caption = {}, QWidget* parent = nullptr);
    QString caption() const { return caption_; }
    void setCaption(const QString& caption);
    class PageControl* pageControl() const;

signals:
    void captionChanged(const QString& caption);
    void shown(); // the page became the active page ("OnShow")

private:
    QString caption_;
};

// A page control with owner-drawn tabs: the caption centred, the active tab filled with the
// active colour and its caption in the window colour. Inactive tabs are drawn as usual.
class PageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit PageControl(QWidget* parent = nullptr);
    void addSheet(TabSheet* sheet);
    int sheetCount() const;
    TabSheet* sheet(int index) const;
    TabSheet* activePage() const;
    void setActivePage(TabSheet* sheet);
    // Hides or shows a sheet's tab; a hidden tab cannot be chosen by the user.
    void setTabShown(TabSheet* sheet, bool shown);
    bool isTabShown(TabSheet* sheet) const;
    // Owner drawing on/off and the colour of the active tab.
    void setOwnerDraw(bool on);
    bool ownerDraw() const;
    void setActiveTabColor(const QColor& color);
    QColor activeTabColor() const;

signals:
    // The active page changed ("OnChange"): the user chose a tab. Changes made through
    // setActivePage or setTabShown do not emit it; the new sheet's shown() is emitted always.
    void pageChanged();

private:
    bool programmatic_ = false;
};

// A string grid: cells addressed (column, row), row 0 the fixed header row shown as the
// column headers, data rows from 1. The model changes at once; the view is refreshed on a
// short timer with one change notification per refresh, so posting stays cheap.
namespace monitor {
class CellTable;
}
class StringGridModel;
class StringGrid : public QTableView {
    Q_OBJECT
public:
    explicit StringGrid(QWidget* parent = nullptr);
    ~StringGrid() override;

    int colCount() const;
    void setColCount(int count);
    int rowCount() const; // including the header row
    void setRowCount(int count);
    int fixedRows() const { return 1; }
    QString cell(int col, int row) const;
    void setCell(int col, int row, const QString& text);
    int appendRow(); // adds one empty row and returns its index
    int currentRow() const;
    void setCurrentRow(int row);
    int colWidth(int col) const;
    void setColWidth(int col, int width);
    void setDefaultColWidth(int width);
    void setDefaultRowHeight(int height);
    // Column widths fitted to the texts a column can hold: column c becomes as wide as the
    // widest of samples[c] and of its header text in the grid's font, so that neither is cut.
    // The widths are measured again when the font or a header text changes (a language
    // switch), never from the rows, so a busy grid costs nothing extra. Columns without
    // samples keep their width; the user may still resize any column.
    void setColumnSamples(const QList<QStringList>& samples);
    // The width column `col` needs for its samples and header in the current font.
    int fittedColWidth(int col) const;
    // Pushes pending changes to the view now (normally done by the refresh timer).
    void flush();
    // Shows `table` (a table of the tag store) from now on, which takes over the rows the grid
    // holds; null goes back to the grid's own table with the rows shown last. The table must
    // outlive the grid or be detached first.
    void showTable(monitor::CellTable* table);
    // The table shown.
    monitor::CellTable& table();

protected:
    void changeEvent(QEvent* event) override;

private:
    void fitColumns();

    StringGridModel* model_;
    QList<QStringList> samples_;
    QTimer* refresh_;
    int currentRow_ = 1;
    bool currentRowPending_ = false;
};

// A memo: lines of text.
class Memo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit Memo(QWidget* parent = nullptr);
    QStringList lines() const;
    int lineCount() const;
    void addLine(const QString& line);
    void deleteLine(int index);
    int indexOfLine(const QString& line) const; // -1 when absent
    void clearLines();
};

} // namespace kelta
