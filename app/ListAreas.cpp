// The three list areas: the offer (server area), the downloads on this PC and the unit.
#include <cstring>

#include "state/ResourceIds.h"
#include "state/VeltraneApp.h"
#include "app/VeltraneDlg.h"
#include "common/Operation.h"

static constexpr char kLogSource[] = "veltranedlg";

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

void BuildColumns(int list, int sizeWidth) {
    platform::View& view = *platform::CurrentView();
    view.DeleteAllRows(list);
    for (int i = 0; i < 4; ++i) view.InsertColumn(list, i, kColumns[i].title, i == 3 ? sizeWidth : kColumns[i].width);
}

// One cell: column 0 inserts the row, 1 to 3 fill its sub-items; texts are cut to 255 bytes.
int SetCell(int list, int row, int column, const std::string& text) {
    if (column < 0 || column > 3) return 0;
    char buffer[256] = {};
    std::strncpy(buffer, text.c_str(), sizeof buffer - 1);
    platform::View& view = *platform::CurrentView();
    if (column == 0) return view.InsertRow(list, row, buffer) == row ? 0 : 1;
    view.SetCellText(list, row, column, buffer);
    return 0;
}

}  // namespace

int CVeltraneDlg::ServerListAreaInit() {
    return OPERATION("ServerListAreaInit", "", 1, [&] {
        BuildColumns(ids::kServerArea, 87);
        return SetServerAreaData(0, "");
    });
}

int CVeltraneDlg::SetServerAreaData(int column, const std::string& text) {
    return SetCell(ids::kServerArea, 0, column, text);
}

int CVeltraneDlg::PcListAreaInit() {
    return OPERATION("PcListAreaInit", "", 1, [&] {
        BuildColumns(ids::kPcArea, PcSizeColumnWidth(PcMapData.size()));
        return 0;
    });
}

int CVeltraneDlg::SetPcAreaItem(int column, int row, const std::string& text) {
    return SetCell(ids::kPcArea, row, column, text);
}

int CVeltraneDlg::NaviListAreaInit() {
    return OPERATION("NaviListAreaInit", "", 1, [&] {
        BuildColumns(ids::kNaviArea, 87);
        return SetNaviAreaData(0, "");
    });
}

int CVeltraneDlg::SetNaviAreaData(int column, const std::string& text) {
    return SetCell(ids::kNaviArea, 0, column, text);
}

int CVeltraneDlg::FillPcRow(int row) {
    const PC_MAP_DATA& record = PcMapData[row];
    if (SetPcAreaItem(0, row, "") != 0) {
        VLOG(LOG_ERROR, "データ設定エラー");
        return 1;
    }
    SetPcAreaItem(3, row, SizeText(record.size));
    SetPcAreaItem(2, row, record.status);
    SetPcAreaItem(1, row, record.name);
    return 0;
}

void CVeltraneDlg::FitPcSizeColumn() {
    view_.SetColumnWidth(ids::kPcArea, 3, PcSizeColumnWidth(PcMapData.size()));
}

int CVeltraneDlg::SetPcAreaData() {
    return OPERATION("SetPcAreaData", "", 800, [&] {
        view_.DeleteAllRows(ids::kPcArea);
        CheckedRow = -1;
        for (int i = 0; i < static_cast<int>(PcMapData.size()); ++i)
            if (FillPcRow(i) != 0) return 1;
        return 0;
    });
}

int CVeltraneDlg::AddPcListData() {
    return OPERATION("AddPcListData", "", 800, [&] {
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
