#include "app/controls.h"

#include "monitor/cell_table.h"

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QApplication>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QStaticText>
#include <QStyle>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <functional>
#include <vector>

namespace kelta {

namespace {
// A busy grid is repainted at most this often; every change in between is one refresh.
constexpr int kGridRefreshMs = 100;
// Room left beside a fitted column's widest text, against rounding in the text layout.
constexpr int kFitSlack = 4;
} // namespace

// ---------------------------------------------------------------------------------------------
// Tag, hint, caption

int tagOf(const QObject* control) {
    return control ? control->property("tag").toInt() : 0;
}

void setTag(QObject* control, int tag) {
    if (control) control->setProperty("tag", tag);
}

QString hintOf(const QObject* control) {
    return control ? control->property("hint").toString() : QString();
}

void setHint(QObject* control, const QString& hint) {
    if (control) control->setProperty("hint", hint);
}

QString captionOf(const QObject* control) {
    if (auto* b = qobject_cast<const QAbstractButton*>(control)) return b->text();
    if (auto* l = qobject_cast<const QLabel*>(control)) return l->text();
    if (auto* g = qobject_cast<const QGroupBox*>(control)) return g->title();
    if (auto* t = qobject_cast<const TabSheet*>(control)) return t->caption();
    return {};
}

void setCaption(QObject* control, const QString& caption) {
    if (auto* b = qobject_cast<QAbstractButton*>(control))
        b->setText(caption);
    else if (auto* l = qobject_cast<QLabel*>(control))
        l->setText(caption);
    else if (auto* g = qobject_cast<QGroupBox*>(control))
        g->setTitle(caption);
    else if (auto* t = qobject_cast<TabSheet*>(control))
        t->setCaption(caption);
}

bool isCaptioned(const QObject* control) {
    return qobject_cast<const QAbstractButton*>(control) || qobject_cast<const QLabel*>(control) ||
           qobject_cast<const QGroupBox*>(control) || qobject_cast<const TabSheet*>(control);
}

// ---------------------------------------------------------------------------------------------
// Panel and Shape

Panel::Panel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAlignment(Qt::AlignCenter);
    setTextFormat(Qt::PlainText);
}

void Panel::setColor(const QColor& color) {
    color_ = color;
    QPalette pal = palette();
    if (color.isValid()) {
        pal.setColor(QPalette::Window, color);
        setAutoFillBackground(true);
    } else {
        pal = QPalette();
        setAutoFillBackground(false);
    }
    setPalette(pal);
}

QSize Panel::sizeHint() const {
    const QSize own = QLabel::sizeHint();
    return layout() ? own.expandedTo(layout()->sizeHint()) : own;
}

QSize Panel::minimumSizeHint() const {
    const QSize own = QLabel::minimumSizeHint();
    return layout() ? own.expandedTo(layout()->minimumSize()) : own;
}

Shape::Shape(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Shape::setBrushColor(const QColor& color) {
    if (brush_ == color) return;
    brush_ = color;
    update();
}

void Shape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(Qt::black);
    p.setBrush(brush_);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

// ---------------------------------------------------------------------------------------------
// TabSheet and PageControl

TabSheet::TabSheet(const QString& caption, QWidget* parent) : QWidget(parent), caption_(caption) {}

void TabSheet::setCaption(const QString& caption) {
    if (caption_ == caption) return;
    caption_ = caption;
    emit captionChanged(caption_);
}

PageControl* TabSheet::pageControl() const {
    // A sheet sits in the tab widget's page stack, so the control is a parent further up.
    for (QObject* p = parent(); p; p = p->parent())
        if (auto* pc = qobject_cast<PageControl*>(p)) return pc;
    return nullptr;
}

namespace {

// Tab bar that paints its own tabs when owner drawing is on: caption centred in the tab, the
// active tab filled with the active colour and its caption in the palette's window colour.
class OwnerDrawTabBar : public QTabBar {
public:
    explicit OwnerDrawTabBar(QWidget* parent) : QTabBar(parent) {}

    bool ownerDraw = false;
    QColor activeColor{Qt::red};

protected:
    void paintEvent(QPaintEvent* event) override {
        if (!ownerDraw) {
            QTabBar::paintEvent(event);
            return;
        }
        QStylePainter p(this);
        const int current = currentIndex();
        for (int i = 0; i < count(); ++i) {
            if (!isTabVisible(i)) continue;
            const QRect r = tabRect(i);
            if (!r.isValid() || !event->rect().intersects(r)) continue;
            QStyleOptionTab opt;
            initStyleOption(&opt, i);
            opt.text.clear();
            p.drawControl(QStyle::CE_TabBarTabShape, opt);
            QColor textColor = palette().color(QPalette::WindowText);
            if (i == current) {
                p.fillRect(r, activeColor);
                textColor = palette().color(QPalette::Window);
            }
            p.setPen(textColor);
            p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, tabText(i));
        }
    }
};

} // namespace

PageControl::PageControl(QWidget* parent) : QTabWidget(parent) {
    setTabBar(new OwnerDrawTabBar(this));
    connect(this, &QTabWidget::currentChanged, this, [this](int index) {
        if (auto* s = sheet(index)) emit s->shown();
        if (!programmatic_) emit pageChanged();
    });
}

void PageControl::addSheet(TabSheet* sheet) {
    if (!sheet) return;
    addTab(sheet, sheet->caption());
    connect(sheet, &TabSheet::captionChanged, this, [this, sheet](const QString& caption) {
        const int i = indexOf(sheet);
        if (i >= 0) setTabText(i, caption);
    });
}

int PageControl::sheetCount() const {
    return count();
}

TabSheet* PageControl::sheet(int index) const {
    return qobject_cast<TabSheet*>(widget(index));
}

TabSheet* PageControl::activePage() const {
    return qobject_cast<TabSheet*>(currentWidget());
}

void PageControl::setActivePage(TabSheet* sheet) {
    const int i = indexOf(sheet);
    if (i < 0) return;
    programmatic_ = true;
    setCurrentIndex(i);
    programmatic_ = false;
}

void PageControl::setTabShown(TabSheet* sheet, bool shown) {
    const int i = indexOf(sheet);
    if (i < 0) return;
    programmatic_ = true;
    setTabVisible(i, shown);
    programmatic_ = false;
}

bool PageControl::isTabShown(TabSheet* sheet) const {
    const int i = indexOf(sheet);
    return i >= 0 && isTabVisible(i);
}

void PageControl::setOwnerDraw(bool on) {
    static_cast<OwnerDrawTabBar*>(tabBar())->ownerDraw = on;
    tabBar()->update();
}

bool PageControl::ownerDraw() const {
    return static_cast<OwnerDrawTabBar*>(tabBar())->ownerDraw;
}

void PageControl::setActiveTabColor(const QColor& color) {
    static_cast<OwnerDrawTabBar*>(tabBar())->activeColor = color;
    tabBar()->update();
}

QColor PageControl::activeTabColor() const {
    return static_cast<OwnerDrawTabBar*>(tabBar())->activeColor;
}

// ---------------------------------------------------------------------------------------------
// StringGrid

// The model of a grid: a view of a cell table, its own or one of the tag store's. The view
// sees only the "published" rows; growth and cell changes are published by flush(), shrinking
// and column changes at once.
class StringGridModel : public QAbstractTableModel, public monitor::CellTable::Observer {
public:
    StringGridModel(QObject* parent, std::function<void()> onPending)
        : QAbstractTableModel(parent), onPending_(std::move(onPending)) {
        own_.setObserver(this);
    }
    ~StringGridModel() override {
        if (t_) t_->setObserver(nullptr);
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : t_->publishedRows();
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : t_->cols();
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        return t_->text(index.column(), index.row() + 1);
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (role != Qt::DisplayRole) return {};
        if (o == Qt::Horizontal) return t_->text(section, 0);
        return section + 1;
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    monitor::CellTable& table() { return *t_; }
    const monitor::CellTable& table() const { return *t_; }

    // Shows `other` from now on; it takes over what this grid holds.
    void attach(monitor::CellTable* other) {
        if (!other || other == t_) return;
        other->setObserver(nullptr);
        other->assign(*t_);
        beginResetModel();
        t_->setObserver(nullptr);
        t_ = other;
        t_->markPublished();
        t_->setObserver(this);
        endResetModel();
    }
    // Back to its own table, with the rows it showed last.
    void detach() {
        if (t_ == &own_) return;
        own_.setObserver(nullptr);
        own_.assign(*t_);
        beginResetModel();
        t_->setObserver(nullptr);
        t_ = &own_;
        t_->markPublished();
        t_->setObserver(this);
        endResetModel();
    }
    bool attached() const { return t_ != &own_; }

    // Publishes the pending changes with at most one signal of each kind; true when header
    // texts changed.
    bool publish() {
        const monitor::CellTable::Changes ch = t_->changes();
        if (ch.cells() && ch.top <= t_->publishedRows())
            emit dataChanged(index(ch.top - 1, ch.left),
                             index(std::min(ch.bottom, t_->publishedRows()) - 1,
                                   std::min(ch.right, t_->cols() - 1)),
                             {Qt::DisplayRole});
        if (ch.newLast >= ch.newFirst) {
            beginInsertRows({}, ch.newFirst, ch.newLast);
            t_->markPublished();
            endInsertRows();
        } else {
            t_->markPublished();
        }
        if (!ch.header) return false;
        emit headerDataChanged(Qt::Horizontal, 0, t_->cols() - 1);
        return true;
    }

    // CellTable::Observer.
    void aboutToChangeColumns(int oldCount, int newCount) override {
        inserting_ = newCount > oldCount;
        if (inserting_)
            beginInsertColumns({}, oldCount, newCount - 1);
        else
            beginRemoveColumns({}, newCount, oldCount - 1);
    }
    void columnsChanged() override {
        if (inserting_)
            endInsertColumns();
        else
            endRemoveColumns();
    }
    void aboutToRemoveRows(int first, int last) override { beginRemoveRows({}, first, last); }
    void rowsRemoved() override { endRemoveRows(); }
    void pendingChanged() override {
        if (onPending_) onPending_();
    }

private:
    monitor::CellTable own_;
    monitor::CellTable* t_ = &own_;
    std::function<void()> onPending_;
    bool inserting_ = false;
};

// Draws a grid's plain cells from laid-out texts kept between repaints: a busy grid repaints
// the same few hundred texts ten times a second, and laying each one out again is most of the
// cost of a repaint. It draws what the style draws for such a cell (the text in the style's
// margin, centred vertically, in the palette's text colour); a selected or current cell, a
// text too wide for its column (elided by the style) or too tall for its row, and right-to-left
// layouts go to the style.
class GridCellDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        constexpr QStyle::State kStyled = QStyle::State_Selected | QStyle::State_HasFocus;
        if ((option.state & kStyled) || option.direction != Qt::LeftToRight)
            return QStyledItemDelegate::paint(painter, option, index);
        const QString text = index.data(Qt::DisplayRole).toString();
        if (text.isEmpty()) return;
        const QWidget* w = option.widget;
        const int margin = (w ? w->style() : QApplication::style())
                               ->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, w) +
                           1;
        const QRect r = option.rect.adjusted(margin, 0, -margin, 0);
        const Laid* laid = laidOut(text, option.font);
        if (!laid || laid->text.size().width() > r.width() || laid->height > r.height())
            return QStyledItemDelegate::paint(painter, option, index);
        const QPalette::ColorGroup cg = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                        : !(option.state & QStyle::State_Active)
                                            ? QPalette::Inactive
                                            : QPalette::Normal;
        painter->save();
        painter->setFont(option.font);
        painter->setPen(option.palette.color(cg, QPalette::Text));
        painter->setClipRect(option.rect, Qt::IntersectClip);
        const int y = r.top() + (r.height() - laid->height) / 2;
        painter->drawStaticText(QPointF(r.left(), y), laid->text);
        painter->restore();
    }

private:
    struct Laid {
        QStaticText text;
        int height = 0; // of its line, as the style measures it (fallback fonts included)
    };

    // The laid-out text, or null for one the style must draw (control characters).
    const Laid* laidOut(const QString& text, const QFont& font) const {
        if (font != font_ || cache_.size() >= kCacheSize) {
            font_ = font;
            cache_.clear();
        }
        auto it = cache_.find(text);
        if (it == cache_.end()) {
            for (const QChar c : text)
                if (c.unicode() < 0x20) return nullptr;
            Laid laid;
            laid.text.setText(text);
            laid.text.setTextFormat(Qt::PlainText);
            laid.text.prepare(QTransform(), font);
            QTextLayout layout(text, font);
            layout.beginLayout();
            const QTextLine line = layout.createLine();
            layout.endLayout();
            laid.height = qRound(line.height());
            it = cache_.insert(text, laid);
        }
        return &it.value();
    }

    // Enough for every cell a grid shows at once many times over; emptied when full.
    static constexpr qsizetype kCacheSize = 8192;
    mutable QHash<QString, Laid> cache_;
    mutable QFont font_;
};

StringGrid::StringGrid(QWidget* parent) : QTableView(parent), refresh_(new QTimer(this)) {
    setItemDelegate(new GridCellDelegate(this));
    model_ = new StringGridModel(this, [this] {
        if (!refresh_->isActive()) refresh_->start();
    });
    setModel(model_);
    refresh_->setSingleShot(true);
    refresh_->setInterval(kGridRefreshMs);
    connect(refresh_, &QTimer::timeout, this, &StringGrid::flush);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(8);
    verticalHeader()->setDefaultSectionSize(20);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setMinimumSectionSize(8);
    horizontalHeader()->setDefaultSectionSize(60);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (current.isValid()) currentRow_ = current.row() + 1;
            });
}

StringGrid::~StringGrid() = default;

int StringGrid::colCount() const {
    return model_->table().cols();
}

void StringGrid::setColCount(int count) {
    model_->table().setCols(count);
}

int StringGrid::rowCount() const {
    return model_->table().rows();
}

void StringGrid::setRowCount(int count) {
    model_->table().setRows(count);
    if (currentRow_ >= rowCount()) currentRow_ = std::max(1, rowCount() - 1);
}

QString StringGrid::cell(int col, int row) const {
    return model_->table().text(col, row);
}

void StringGrid::setCell(int col, int row, const QString& text) {
    model_->table().setText(col, row, text);
}

int StringGrid::appendRow() {
    return model_->table().append();
}

void StringGrid::showTable(monitor::CellTable* table) {
    if (table)
        model_->attach(table);
    else
        model_->detach();
    if (currentRow_ >= rowCount()) currentRow_ = std::max(1, rowCount() - 1);
}

monitor::CellTable& StringGrid::table() {
    return model_->table();
}

int StringGrid::currentRow() const {
    return currentRow_;
}

void StringGrid::setCurrentRow(int row) {
    if (row < 1 || row >= rowCount()) return;
    currentRow_ = row;
    if (row - 1 < model_->rowCount()) {
        selectRow(row - 1);
    } else {
        currentRowPending_ = true;
        if (!refresh_->isActive()) refresh_->start();
    }
}

int StringGrid::colWidth(int col) const {
    if (col < 0 || col >= colCount()) return 0;
    return horizontalHeader()->sectionSize(col);
}

void StringGrid::setColWidth(int col, int width) {
    if (col < 0 || col >= colCount()) return;
    horizontalHeader()->resizeSection(col, width);
}

void StringGrid::setDefaultColWidth(int width) {
    horizontalHeader()->setDefaultSectionSize(width);
}

void StringGrid::setDefaultRowHeight(int height) {
    verticalHeader()->setDefaultSectionSize(height);
}

void StringGrid::setColumnSamples(const QList<QStringList>& samples) {
    samples_ = samples;
    fitColumns();
}

int StringGrid::fittedColWidth(int col) const {
    if (col < 0 || col >= colCount()) return 0;
    if (col >= samples_.size() || samples_[col].isEmpty()) return colWidth(col);
    // Cells are drawn in the grid's font with a margin on either side of the text (the
    // style's focus-frame margin plus one) and a one-pixel grid line.
    const QFontMetrics fm = fontMetrics();
    int text = 0;
    for (const QString& t : samples_[col]) text = std::max(text, fm.horizontalAdvance(t));
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int cell = text + 2 * margin + (showGrid() ? 1 : 0) + kFitSlack;
    // The header's own measure of its text, with the style's section margins.
    return std::max(cell, horizontalHeader()->sectionSizeHint(col) + kFitSlack);
}

void StringGrid::fitColumns() {
    const int n = std::min(static_cast<int>(samples_.size()), colCount());
    for (int c = 0; c < n; ++c)
        if (!samples_[c].isEmpty()) horizontalHeader()->resizeSection(c, fittedColWidth(c));
}

void StringGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) fitColumns();
}

void StringGrid::flush() {
    refresh_->stop();
    if (model_->publish()) fitColumns();
    // A current row set while its row was still unpublished is shown now.
    const QModelIndex cur = selectionModel()->currentIndex();
    if (currentRow_ - 1 < model_->rowCount() && (!cur.isValid() || cur.row() != currentRow_ - 1) &&
        currentRowPending_) {
        selectRow(currentRow_ - 1);
    }
    currentRowPending_ = false;
}

// ---------------------------------------------------------------------------------------------
// Memo

Memo::Memo(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
}

QStringList Memo::lines() const {
    QStringList out;
    if (document()->isEmpty()) return out;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) out << b.text();
    return out;
}

int Memo::lineCount() const {
    return document()->isEmpty() ? 0 : document()->blockCount();
}

void Memo::addLine(const QString& line) {
    appendPlainText(line);
}

void Memo::deleteLine(int index) {
    QStringList all = lines();
    if (index < 0 || index >= all.size()) return;
    all.removeAt(index);
    setPlainText(all.join('\n'));
}

int Memo::indexOfLine(const QString& line) const {
    return static_cast<int>(lines().indexOf(line));
}

void Memo::clearLines() {
    clear();
}

} // namespace kelta
