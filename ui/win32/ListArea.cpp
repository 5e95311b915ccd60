// A list area on the list-view control: columns, rows and cells, check boxes as state images, and
// the user's changes told apart from the window's own.
#include "ui/win32/ListArea.h"

#include "ui/win32/WideText.h"

#include "platform/win32/Windows.h"
#include <commctrl.h>

namespace ui::win32 {
namespace {

// The state images of a check-box list: 1 unchecked, 2 checked.
constexpr UINT kUncheckedImage = INDEXTOSTATEIMAGEMASK(1);
constexpr UINT kCheckedImage = INDEXTOSTATEIMAGEMASK(2);

class OwnChange {
public:
    explicit OwnChange(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
    ~OwnChange() { flag_ = previous_; }

private:
    bool& flag_;
    bool previous_;
};

}  // namespace

ListArea::ListArea(HWND control, int id, bool checkBoxes, const Resolution& resolution)
    : control_(control), id_(id), checkBoxes_(checkBoxes), resolution_(resolution) {
    DWORD extended = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | (checkBoxes ? LVS_EX_CHECKBOXES : 0);
    ListView_SetExtendedListViewStyle(control_, extended);
}

int ListArea::InsertColumn(int column, const std::string& title, int width) {
    if (column < 0) return -1;
    std::wstring text = Widen(title);
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    c.fmt = LVCFMT_LEFT;
    c.cx = resolution_.Scale(width);
    c.pszText = text.data();
    c.iSubItem = column;
    return static_cast<int>(
        SendMessageW(control_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&c)));
}

void ListArea::SetColumnWidth(int column, int width) {
    ListView_SetColumnWidth(control_, column, resolution_.Scale(width));
}

int ListArea::InsertRow(int row, const std::string& firstCell) {
    if (row < 0 || row > RowCount()) row = RowCount();
    OwnChange own(ownChange_);
    std::wstring text = Widen(firstCell);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = text.data();
    int inserted = static_cast<int>(SendMessageW(control_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (inserted < 0) return -1;
    rows_.insert(rows_.begin() + inserted, std::vector<std::string>{firstCell});
    if (checkBoxes_) ListView_SetItemState(control_, inserted, kUncheckedImage, LVIS_STATEIMAGEMASK);
    return inserted;
}

bool ListArea::SetCellText(int row, int column, const std::string& text) {
    if (row < 0 || row >= RowCount() || column < 0) return false;
    OwnChange own(ownChange_);
    std::wstring wide = Widen(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = wide.data();
    SendMessageW(control_, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    auto& cells = rows_[static_cast<size_t>(row)];
    if (cells.size() <= static_cast<size_t>(column)) cells.resize(static_cast<size_t>(column) + 1);
    cells[static_cast<size_t>(column)] = text;
    return true;
}

std::string ListArea::CellText(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0) return {};
    const auto& cells = rows_[static_cast<size_t>(row)];
    return static_cast<size_t>(column) < cells.size() ? cells[static_cast<size_t>(column)] : std::string();
}

void ListArea::DeleteRow(int row) {
    if (row < 0 || row >= RowCount()) return;
    OwnChange own(ownChange_);
    ListView_DeleteItem(control_, row);
    rows_.erase(rows_.begin() + row);
}

void ListArea::DeleteAllRows() {
    OwnChange own(ownChange_);
    ListView_DeleteAllItems(control_);
    rows_.clear();
}

void ListArea::SetRowChecked(int row, bool checked) {
    if (!checkBoxes_ || row < 0 || row >= RowCount()) return;
    OwnChange own(ownChange_);
    ListView_SetItemState(control_, row, checked ? kCheckedImage : kUncheckedImage, LVIS_STATEIMAGEMASK);
}

bool ListArea::IsRowChecked(int row) const {
    if (!checkBoxes_ || row < 0 || row >= RowCount()) return false;
    return (ListView_GetItemState(control_, row, LVIS_STATEIMAGEMASK) & LVIS_STATEIMAGEMASK) == kCheckedImage;
}

void ListArea::EnsureVisible(int row) { ListView_EnsureVisible(control_, row, FALSE); }

// A report view scrolls by whole rows, whose height follows the font.
void ListArea::Scroll(int dy) {
    ListView_Scroll(control_, 0, dy < 0 ? -resolution_.Scale(-dy) : resolution_.Scale(dy));
}

bool ListArea::ClickCheckBox(int row) {
    if (!checkBoxes_ || row < 0 || row >= RowCount() || !IsWindowEnabled(control_)) return false;
    // Not an own change: the control notifies its window as it does for a click.
    ListView_SetItemState(control_, row, IsRowChecked(row) ? kUncheckedImage : kCheckedImage, LVIS_STATEIMAGEMASK);
    return true;
}

std::optional<platform::ListItemChange> ListArea::ItemChanged(const NMLISTVIEW& change) const {
    if (ownChange_ || change.iItem < 0 || (change.uChanged & LVIF_STATE) == 0) return std::nullopt;
    UINT oldImage = change.uOldState & LVIS_STATEIMAGEMASK;
    UINT newImage = change.uNewState & LVIS_STATEIMAGEMASK;
    if (checkBoxes_ && newImage != oldImage && newImage != 0)
        return platform::ListItemChange{
            id_, change.iItem, newImage == kCheckedImage ? platform::kStateChecked : platform::kStateUnchecked};
    // A row the user selected.
    if ((change.uNewState & LVIS_SELECTED) != 0 && (change.uOldState & LVIS_SELECTED) == 0)
        return platform::ListItemChange{id_, change.iItem, 0};
    return std::nullopt;
}

}  // namespace ui::win32
