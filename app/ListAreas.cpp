// The three list areas: the offer (server area), the downloads on this PC and the unit.
#include <cstring>

#include "state/Results.h"
#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "base/Logger.h"
#include "common/Operation.h"

static constexpr char kLogSource[] = ".\\veltranedlg";

namespace {

struct Column {
    const char* title;
    int width;
};
constexpr Column kColumns[4] = {{"", 22}, {"地図バージョン", 240}, {"ステータス", 120}, {"サイズ", 87}};

int PcSizeColumnWidth(size_t records) {
    // Four rows bring the scroll bar, which takes its width from the size column.
    return records < 4 ? 87 : 70;
}

// The columns of an area, its rows deleted first; false when a column could not be inserted.
bool BuildColumns(int list, int sizeWidth) {
    platform::View& view = *platform::CurrentView();
    view.DeleteAllRows(list);
    for (int i = kColumnRow; i <= kColumnSize; ++i)
        if (view.InsertColumn(list, i, kColumns[i].title, i == kColumnSize ? sizeWidth : kColumns[i].width) != i)
            return false;
    return true;
}

// One cell: column 0 inserts the row, 1 to 3 fill its sub-items; texts are cut to 255 bytes.
// A failure logs the column's text (column 2's is the area's own) and gives 1.
int SetCell(int list, int row, int column, const std::string& text, const char* statusError) {
    if (column < kColumnRow || column > kColumnSize) return 0;
    char buffer[256] = {};
    std::strncpy(buffer, text.c_str(), sizeof buffer - 1);
    platform::View& view = *platform::CurrentView();
    bool set =
        column == kColumnRow ? view.InsertRow(list, row, buffer) == row : view.SetCellText(list, row, column, buffer);
    if (set) return 0;
    const char* error = column == kColumnStatus ? statusError
                        : column == kColumnSize ? "内容設定エラー"
                                                : "データ設定エラー";
    VLOG(LOG_ERROR, "%s", error);
    return 1;
}

}  // namespace

int CVeltraneDlg::ServerListAreaInit() {
    return OPERATION("ServerListAreaInit", "", 1, [&] {
        if (!BuildColumns(ids::kServerArea, 87)) {
            VLOG(LOG_ERROR, "サーバエリア初期化エラー");
            return 1;
        }
        return SetServerAreaData(kColumnRow, "");
    });
}

int CVeltraneDlg::SetServerAreaData(int column, const std::string& text) {
    return SetCell(ids::kServerArea, 0, column, text, "内容設定エラー");
}

int CVeltraneDlg::PcListAreaInit() {
    return OPERATION("PcListAreaInit", "", 1, [&] {
        if (!BuildColumns(ids::kPcArea, PcSizeColumnWidth(PcMapData.size()))) {
            VLOG(LOG_ERROR, "PCエリア初期化エラー");
            return 1;
        }
        return 0;
    });
}

int CVeltraneDlg::SetPcAreaItem(int column, int row, const std::string& text) {
    return SetCell(ids::kPcArea, row, column, text, "ステータス設定エラー");
}

int CVeltraneDlg::NaviListAreaInit() {
    return OPERATION("NaviListAreaInit", "", 1, [&] {
        if (!BuildColumns(ids::kNaviArea, 87)) {
            VLOG(LOG_ERROR, "ナビエリア初期化エラー");
            return 1;
        }
        return SetNaviAreaData(kColumnRow, "");
    });
}

int CVeltraneDlg::SetNaviAreaData(int column, const std::string& text) {
    return SetCell(ids::kNaviArea, 0, column, text, "ステータス設定エラー");
}

int CVeltraneDlg::FillPcRow(int row) {
    const PC_MAP_DATA& record = PcMapData[row];
    if (SetPcAreaItem(kColumnRow, row, "") != 0 || SetPcAreaItem(kColumnSize, row, SizeText(record.size)) != 0 ||
        SetPcAreaItem(kColumnStatus, row, record.status) != 0 || SetPcAreaItem(kColumnName, row, record.name) != 0)
        return 1;
    return 0;
}

void CVeltraneDlg::FitPcSizeColumn() {
    view_.SetColumnWidth(ids::kPcArea, kColumnSize, PcSizeColumnWidth(PcMapData.size()));
}

int CVeltraneDlg::SetPcAreaData() {
    return OPERATION("SetPcAreaData", "", kSystemError, [&] {
        view_.DeleteAllRows(ids::kPcArea);
        CheckedRow = -1;
        for (int i = 0; i < static_cast<int>(PcMapData.size()); ++i)
            if (FillPcRow(i) != 0) return 1;
        return 0;
    });
}

int CVeltraneDlg::AddPcListData() {
    return OPERATION("AddPcListData", "", kSystemError, [&] {
        if (PcMapData.empty()) return 0;
        FitPcSizeColumn();
        return FillPcRow(static_cast<int>(PcMapData.size()) - 1);
    });
}

int CVeltraneDlg::ScrollPcListToCurrent() {
    for (int i = 0; i < static_cast<int>(PcMapData.size()); ++i)
        if (PcMapData[i].name == theApp.OfferName) {
            view_.ScrollList(ids::kPcArea, (i - 2) * 16);
            break;
        }
    return 0;
}

void CVeltraneDlg::PcListCheckChanged(const platform::ListItemChange& change) {
    // At most one checked row: whatever changes, the one checked before is cleared first.
    if (CheckedRow >= 0) view_.SetRowChecked(ids::kPcArea, CheckedRow, false);
    if (change.newStateImage == platform::kStateChecked)
        CheckedRow = change.row;
    else if (change.newStateImage == platform::kStateUnchecked)
        CheckedRow = -1;
}
