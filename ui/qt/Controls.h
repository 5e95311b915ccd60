// The controls of the program's windows that Qt has no ready widget for: the owner-drawn
// buttons, the hyperlink static and the report-style list areas.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>
#include <functional>
#include <string>

#include "platform/View.h"

namespace ui::qt {

// A push button whose face carries a 32 × 32 icon at (5, 5) beside its text.
class OwnerDrawButton : public QPushButton {
public:
    using QPushButton::QPushButton;
    void SetFaceIcon(const QPixmap& icon);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPixmap icon_;
};

// A static drawn as a hyperlink: underlined 12-pixel text in blue, the hand cursor over it.
class LinkLabel : public QLabel {
public:
    LinkLabel(const QString& text, QWidget* parent, std::function<void()> onClick);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::function<void()> onClick_;
};

// A report-style list area; cells hold CP932 text. Changes made by the user reach onChange
// as LVN_ITEMCHANGED would; the window's own changes do not.
class ListArea : public QTableWidget {
public:
    ListArea(int id, bool checkBoxes, QWidget* parent, std::function<void(const platform::ListItemChange&)> onChange);

    // The column's index, -1 for a negative one.
    int InsertColumn(int column, const std::string& title, int width);
    int InsertRow(int row, const std::string& firstCell);
    // False when the row is not there.
    bool SetCellText(int row, int column, const std::string& text);
    std::string CellText(int row, int column) const;
    void SetRowChecked(int row, bool checked);
    bool IsRowChecked(int row) const;
    void ScrollBy(int dy);
    // What a click on a row's check box does.
    bool ClickCheckBox(int row);

private:
    QTableWidgetItem* Cell(int row, int column);
    void ItemChanged(QTableWidgetItem* item);

    int id_;
    bool checkBoxes_;
    bool ownChange_ = false;
    std::function<void(const platform::ListItemChange&)> onChange_;
};

}  // namespace ui::qt
