// A grid draws its plain cells from texts it keeps laid out between repaints; what it paints
// must be what the style paints for the same cells, whatever the texts, the font and the
// selection, and a cell whose text changes must show the new text.
#include "app/controls.h"
#include "support/test_env.h"

#include <QApplication>
#include <QFont>
#include <QHeaderView>
#include <QImage>
#include <QStyledItemDelegate>
#include <functional>
#include <gtest/gtest.h>

using namespace kelta;

namespace {

// The grid as the window draws it, and as the style alone draws it.
QImage painted(StringGrid& grid, bool styleOnly) {
    QAbstractItemDelegate* own = grid.itemDelegate();
    QStyledItemDelegate plain;
    if (styleOnly) grid.setItemDelegate(&plain);
    grid.viewport()->repaint();
    const QImage image = grid.grab().toImage();
    if (styleOnly) grid.setItemDelegate(own);
    return image;
}

void fill(StringGrid& grid, const QStringList& texts) {
    grid.setColCount(4);
    grid.setRowCount(1 + (static_cast<int>(texts.size()) + 3) / 4);
    for (int i = 0; i < texts.size(); ++i) grid.setCell(i % 4, 1 + i / 4, texts[i]);
    grid.flush();
}

} // namespace

TEST(GridPaint, CellsLookAsTheStyleDrawsThem) {
    StringGrid grid;
    grid.resize(420, 200);
    grid.setColWidth(0, 90);
    grid.setColWidth(1, 40); // too narrow for most texts: the style elides them
    grid.setColWidth(2, 120);
    grid.setColWidth(3, 70);
    grid.show();
    fill(grid, {"12345678", "-40.5\u00b0C", "\u6eab\u5ea6 23.5", "", "<b>bold</b>", "0x1F", "99.9%",
                "N 25\u00b001'02\"", "A\tB", "line\nbreak", "  padded  ", "W"});
    QApplication::processEvents();

    const struct {
        const char* what;
        std::function<void()> change;
    } steps[] = {
        {"as filled", [] {}},
        {"texts changed after a paint",
         [&] {
             grid.setCell(0, 1, "87654321");
             grid.setCell(2, 2, "\u6fd5\u5ea6 61%");
             grid.flush();
         }},
        {"a row selected", [&] { grid.setCurrentRow(2); }},
        {"a larger font", [&] { grid.setFont(QFont(grid.font().family(), 11)); }},
        {"disabled", [&] { grid.setEnabled(false); }},
        {"a font taller than the rows", [&] { grid.setFont(QFont(grid.font().family(), 16)); }},
    };
    for (const auto& step : steps) {
        step.change();
        QApplication::processEvents();
        const QImage own = painted(grid, false);
        const QImage style = painted(grid, true);
        ASSERT_EQ(own.size(), style.size()) << step.what;
        EXPECT_TRUE(own == style) << step.what;
    }
}
