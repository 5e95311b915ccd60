// The owner-drawn button face, the hyperlink static in its colours, and the list area as a table
// widget with check boxes that scrolls by whole rows.
#include "ui/qt/Controls.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "ui/qt/QtText.h"

namespace ui::qt {
namespace {
constexpr int kRowHeight = 16;
constexpr int kCp932Role = Qt::UserRole;
constexpr int kCheckedRole = Qt::UserRole + 1;
}  // namespace

void OwnerDrawButton::SetFaceIcon(const QPixmap& icon) {
    icon_ = icon;
    update();
}

void OwnerDrawButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawControl(QStyle::CE_PushButton, option);
    if (!icon_.isNull()) painter.drawPixmap(5, 5, 32, 32, icon_);
    QRect textArea = rect().adjusted(icon_.isNull() ? 4 : 42, 0, -4, 0);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(textArea, Qt::AlignCenter | Qt::TextSingleLine, text());
}

LinkLabel::LinkLabel(const QString& text, QWidget* parent, std::function<void()> onClick)
    : QLabel(text, parent), onClick_(std::move(onClick)) {
    QFont font = this->font();
    font.setPixelSize(12);
    font.setUnderline(true);
    setFont(font);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xD4, 0xD1, 0xC2));  // COLORREF 0xC2D1D4
    colours.setColor(QPalette::WindowText, Qt::blue);
    setPalette(colours);
    setCursor(Qt::PointingHandCursor);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) onClick_();
}

ListArea::ListArea(int id, bool checkBoxes, QWidget* parent,
                   std::function<void(const platform::ListItemChange&)> onChange)
    : QTableWidget(parent), id_(id), checkBoxes_(checkBoxes), onChange_(std::move(onChange)) {
    setShowGrid(true);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    verticalHeader()->setMinimumSectionSize(kRowHeight);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setFixedHeight(20);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrap(false);
    connect(this, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) { ItemChanged(item); });
    connect(this, &QTableWidget::currentCellChanged, this, [this](int row, int, int previous, int) {
        if (!ownChange_ && row >= 0 && row != previous) onChange_({id_, row, 0});
    });
}

int ListArea::InsertColumn(int column, const std::string& title, int width) {
    if (column < 0) return -1;
    if (columnCount() <= column) setColumnCount(column + 1);
    auto* header = new QTableWidgetItem(FromCp932(title));
    header->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setHorizontalHeaderItem(column, header);
    setColumnWidth(column, width);
    return column;
}

QTableWidgetItem* ListArea::Cell(int row, int column) {
    if (row < 0 || row >= rowCount() || column < 0) return nullptr;
    if (column >= columnCount()) setColumnCount(column + 1);
    QTableWidgetItem* cell = item(row, column);
    if (cell == nullptr) {
        cell = new QTableWidgetItem;
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(row, column, cell);
    }
    return cell;
}

int ListArea::InsertRow(int row, const std::string& firstCell) {
    if (row < 0 || row > rowCount()) row = rowCount();
    ownChange_ = true;
    insertRow(row);
    setRowHeight(row, kRowHeight);
    QTableWidgetItem* first = Cell(row, 0);
    first->setText(FromCp932(firstCell));
    first->setData(kCp932Role, QByteArray::fromStdString(firstCell));
    if (checkBoxes_) {
        first->setFlags(first->flags() | Qt::ItemIsUserCheckable);
        first->setCheckState(Qt::Unchecked);
        first->setData(kCheckedRole, false);
    }
    ownChange_ = false;
    return row;
}

bool ListArea::SetCellText(int row, int column, const std::string& text) {
    ownChange_ = true;
    QTableWidgetItem* cell = Cell(row, column);
    if (cell != nullptr) {
        cell->setText(FromCp932(text));
        cell->setData(kCp932Role, QByteArray::fromStdString(text));
    }
    ownChange_ = false;
    return cell != nullptr;
}

std::string ListArea::CellText(int row, int column) const {
    QTableWidgetItem* cell = item(row, column);
    return cell == nullptr ? std::string() : cell->data(kCp932Role).toByteArray().toStdString();
}

void ListArea::SetRowChecked(int row, bool checked) {
    QTableWidgetItem* first = item(row, 0);
    if (first == nullptr || !checkBoxes_) return;
    ownChange_ = true;
    first->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    first->setData(kCheckedRole, checked);
    ownChange_ = false;
}

bool ListArea::IsRowChecked(int row) const {
    QTableWidgetItem* first = item(row, 0);
    return first != nullptr && checkBoxes_ && first->checkState() == Qt::Checked;
}

void ListArea::ScrollBy(int dy) {
    // The list scrolls by whole rows, as a report view does.
    verticalScrollBar()->setValue(verticalScrollBar()->value() + dy / kRowHeight);
}

bool ListArea::ClickCheckBox(int row) {
    QTableWidgetItem* first = item(row, 0);
    if (first == nullptr || !checkBoxes_ || !isEnabled()) return false;
    first->setCheckState(IsRowChecked(row) ? Qt::Unchecked : Qt::Checked);  // reaches ItemChanged
    return true;
}

void ListArea::ItemChanged(QTableWidgetItem* changed) {
    if (ownChange_ || !checkBoxes_ || changed->column() != 0) return;
    bool checked = changed->checkState() == Qt::Checked;
    if (checked == changed->data(kCheckedRole).toBool()) return;
    ownChange_ = true;
    changed->setData(kCheckedRole, checked);
    ownChange_ = false;
    onChange_({id_, changed->row(), checked ? platform::kStateChecked : platform::kStateUnchecked});
}

}  // namespace ui::qt
