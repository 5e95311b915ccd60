// A report-style list view (Common Controls 6) with grid lines and, in the PC area, a check
// box in each row. The cells' CP932 text is kept beside the control, so the window logic reads
// back exactly the bytes it set. The window's own changes never reach the logic; the user's
// reach it as LVN_ITEMCHANGED does (the new state image, or 0 for a selection change).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/View.h"
#include "ui/win32/Resolution.h"

struct HWND__;
struct tagNMLISTVIEW;

namespace ui::win32 {

class ListArea {
public:
    // Widths and scroll distances come in the layout's pixels and are scaled to the resolution.
    ListArea(HWND__* control, int id, bool checkBoxes, const Resolution& resolution);

    int Id() const { return id_; }
    HWND__* Handle() const { return control_; }
    // The new column's index, or -1.
    int InsertColumn(int column, const std::string& title, int width);
    void SetColumnWidth(int column, int width);
    int InsertRow(int row, const std::string& firstCell);
    // False when the row is not there.
    bool SetCellText(int row, int column, const std::string& text);
    std::string CellText(int row, int column) const;
    void DeleteRow(int row);
    void DeleteAllRows();
    int RowCount() const { return static_cast<int>(rows_.size()); }
    void SetRowChecked(int row, bool checked);
    bool IsRowChecked(int row) const;
    void EnsureVisible(int row);
    void Scroll(int dy);
    // What a click on a row's check box does; false on a disabled list or a row it lacks.
    bool ClickCheckBox(int row);
    // The logic's view of an LVN_ITEMCHANGED of this control, or nothing for its own changes.
    std::optional<platform::ListItemChange> ItemChanged(const tagNMLISTVIEW& change) const;

private:
    HWND__* control_;
    int id_;
    bool checkBoxes_;
    Resolution resolution_;
    bool ownChange_ = false;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace ui::win32
