// The list areas and History.ini.
#include <gtest/gtest.h>

#include <filesystem>

#include "WindowWorld.h"
#include "state/ResourceIds.h"
#include "support/LogCapture.h"

namespace fs = std::filesystem;

class ListAreasTest : public WindowWorld {
protected:
    static std::string Section(int n, const std::string& name, const std::string& size = "1.500000") {
        return "[HISTORY" + std::to_string(n) + "]\r\nNAME=" + name + "\r\nSTATUS=ダウンロード完了\r\nVERSION=20260" +
               std::to_string(n) + "1\r\nSIZE=" + size + "\r\nFOLDER=" + theApp.MapFolder + "\r\n";
    }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const PC_MAP_DATA& record : window->PcMapData) names.push_back(record.name);
        return names;
    }
};

TEST_F(ListAreasTest, HistoryLoadsUpToTheFirstGapOrEmptyName) {
    TestWorld::WriteFile(History(), Section(1, "A版") + Section(2, "B版") + Section(4, "D版"));
    EXPECT_EQ(window->GetHistoryData(), 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A版", "B版"}));
    EXPECT_EQ(window->PcMapData[1].version, "2026021");
    EXPECT_FLOAT_EQ(window->PcMapData[1].size, 1.5f);
    EXPECT_EQ(window->PcMapData[1].folder, theApp.MapFolder);

    TestWorld::WriteFile(History(), Section(1, "A版") + Section(2, ""));
    window->GetHistoryData();
    EXPECT_EQ(Names(), (std::vector<std::string>{"A版"}));

    fs::remove(History());
    window->GetHistoryData();
    EXPECT_TRUE(window->PcMapData.empty());
}

// Any user can edit History.ini: a record whose folder is not the map folder or inside it is
// dropped, with a line in the log. A temporary file a killed save left is removed.
TEST_F(ListAreasTest, RecordsOutsideTheMapFolderAreDropped) {
    LogCapture log(world.root);
    std::string outside = Section(2, "外版");
    outside.replace(outside.find("FOLDER=") + 7, std::string::npos, "C:\\Windows\r\n");
    std::string parent = Section(3, "上版");
    parent.replace(parent.find("FOLDER=") + 7, std::string::npos, theApp.MapFolder + "\\..\r\n");
    std::string inside = Section(4, "中版");
    inside.replace(inside.find("FOLDER=") + 7, std::string::npos, theApp.MapFolder + "\\sub\r\n");
    TestWorld::WriteFile(History(), Section(1, "A版") + outside + parent + inside);
    TestWorld::WriteFile(History() + ".tmp4242", "cut short");
    EXPECT_EQ(window->GetHistoryData(), 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A版", "中版"}));
    EXPECT_EQ(log.Count("マップフォルダ外の記録"), 2u);
    EXPECT_FALSE(fs::exists(History() + ".tmp4242"));
}

TEST_F(ListAreasTest, SavingRenumbersAndWritesEveryKeyInOrder) {
    TestWorld::WriteFile(History(), Section(1, "A版") + Section(2, "B版", "abc") + Section(3, "C版"));
    window->GetHistoryData();
    EXPECT_FLOAT_EQ(window->PcMapData[1].size, 0.0f);
    window->PcMapData.erase(window->PcMapData.begin());
    EXPECT_EQ(window->SetHistoryData(), 0);
    EXPECT_EQ(TestWorld::ReadFile(History()),
              "[HISTORY1]\r\nNAME=B版\r\nSTATUS=ダウンロード完了\r\nVERSION=2026021\r\nSIZE=0.000000\r\nFOLDER=" +
                  theApp.MapFolder +
                  "\r\n"
                  "[HISTORY2]\r\nNAME=C版\r\nSTATUS=ダウンロード完了\r\nVERSION=2026031\r\nSIZE=1.500000\r\nFOLDER=" +
                  theApp.MapFolder + "\r\n");
    // Read back, the same records.
    std::vector<PC_MAP_DATA> saved = window->PcMapData;
    window->GetHistoryData();
    ASSERT_EQ(window->PcMapData.size(), saved.size());
    for (size_t i = 0; i < saved.size(); ++i) {
        EXPECT_EQ(window->PcMapData[i].name, saved[i].name);
        EXPECT_EQ(window->PcMapData[i].version, saved[i].version);
        EXPECT_EQ(window->PcMapData[i].status, saved[i].status);
    }

    // Nothing left: an empty history, no stale sections.
    window->PcMapData.clear();
    window->SetHistoryData();
    EXPECT_EQ(TestWorld::ReadFile(History()), "");
}

TEST_F(ListAreasTest, AHistoryThatCannotBeReplacedStaysAsItWas) {
    std::string before = Section(1, "A版") + Section(2, "B版");
    TestWorld::WriteFile(History(), before);
    window->GetHistoryData();
    window->PcMapData.pop_back();
    // The replacement cannot be written beside the old file (its place is taken by a folder).
    fs::create_directory(History() + ".tmp" + std::to_string(getpid()));
    EXPECT_EQ(window->SetHistoryData(), 1);
    EXPECT_EQ(TestWorld::ReadFile(History()), before);
    ASSERT_EQ(view.Boxes().size(), 1u);
    EXPECT_NE(view.Boxes()[0].request.text.find("E98"), std::string::npos);
    EXPECT_EQ(window->PcMapData.size(), 1u);
}

TEST_F(ListAreasTest, ThePcAreaShowsTheRecordsAndNarrowsTheSizeColumnAtFourRows) {
    TestWorld::WriteFile(History(), Section(1, "A版") + Section(2, "B版") + Section(3, "C版"));
    window->GetHistoryData();
    window->PcListAreaInit();
    window->SetPcAreaData();
    EXPECT_EQ(view.ColumnWidth(ids::kPcArea, 3), 87);
    EXPECT_EQ(view.ColumnWidth(ids::kPcArea, 1), 240);
    ASSERT_EQ(view.RowCount(ids::kPcArea), 3);
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 2, 1), "C版");
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 2, 2), "ダウンロード完了");
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 2, 3), "1.5GB");

    window->PcMapData.push_back({"D版", "0%完了", "2026041", theApp.MapFolder, 123.56f});
    window->AddPcListData();
    EXPECT_EQ(view.ColumnWidth(ids::kPcArea, 3), 70);
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 3, 3), "123.6GB");

    // Four records at start-up give the narrow column too; a deletion back to three widens it.
    window->SetHistoryData();
    window->GetHistoryData();
    window->PcListAreaInit();
    EXPECT_EQ(view.ColumnWidth(ids::kPcArea, 3), 70);
    window->SetPcAreaData();
    window->DeleteRow = 0;
    window->OnNotify(kNotifyDeleteDone, 0);
    EXPECT_EQ(view.ColumnWidth(ids::kPcArea, 3), 87);
    EXPECT_EQ(view.RowCount(ids::kPcArea), 3);
    EXPECT_EQ(Names(), (std::vector<std::string>{"B版", "C版", "D版"}));
    EXPECT_NE(TestWorld::ReadFile(History()).find("[HISTORY3]\r\nNAME=D版"), std::string::npos);
}

TEST_F(ListAreasTest, SizeTextsHaveOneDecimalWithoutBlanks) {
    EXPECT_EQ(SizeText(1.26), "1.3GB");
    EXPECT_EQ(SizeText(12.0), "12.0GB");
    EXPECT_EQ(SizeText(0.04), "0.0GB");
    EXPECT_EQ(SizeText(123.56), "123.6GB");
}

TEST_F(ListAreasTest, AtMostOneRowIsChecked) {
    window->PcMapData = {{"A版", "", "1", "", 0}, {"B版", "", "2", "", 0}, {"C版", "", "3", "", 0}};
    window->PcListAreaInit();
    window->SetPcAreaData();
    // The user checks row 2, then row 0.
    auto check = [&](int row) {
        view.SetRowChecked(ids::kPcArea, row, true);
        window->OnListItemChanged({ids::kPcArea, row, platform::kStateChecked});
    };
    check(2);
    check(0);
    EXPECT_TRUE(view.IsRowChecked(ids::kPcArea, 0));
    EXPECT_FALSE(view.IsRowChecked(ids::kPcArea, 2));
    EXPECT_FALSE(view.IsRowChecked(ids::kPcArea, 1));
    // Any other change in the list (a selection) clears the check as well.
    window->OnListItemChanged({ids::kPcArea, 1, 0});
    EXPECT_FALSE(view.IsRowChecked(ids::kPcArea, 0));
    // Unchecking forgets the row: checking another one clears nothing else.
    check(1);
    view.SetRowChecked(ids::kPcArea, 1, false);
    window->OnListItemChanged({ids::kPcArea, 1, platform::kStateUnchecked});
    check(2);
    EXPECT_TRUE(view.IsRowChecked(ids::kPcArea, 2));
    EXPECT_EQ(window->CheckedRow, 2);
}

TEST_F(ListAreasTest, TheServerAndNavigationAreasHaveOneRowAndCutLongTexts) {
    window->ServerListAreaInit();
    window->NaviListAreaInit();
    EXPECT_EQ(view.RowCount(ids::kServerArea), 1);
    EXPECT_EQ(view.RowCount(ids::kNaviArea), 1);
    EXPECT_EQ(view.ColumnWidth(ids::kServerArea, 0), 22);
    EXPECT_EQ(view.ColumnWidth(ids::kNaviArea, 2), 120);
    window->SetServerAreaData(1, std::string(300, 'x'));
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 1), std::string(255, 'x'));
    EXPECT_EQ(window->SetServerAreaData(4, "ignored"), 0);
    EXPECT_EQ(view.RowCount(ids::kServerArea), 1);
}

TEST_F(ListAreasTest, AnAreaThatCannotBeSetUpSaysSoInTheLog) {
    LogCapture log(world.root);
    const std::pair<int, const char*> areas[] = {{ids::kServerArea, "サーバエリア初期化エラー"},
                                                 {ids::kPcArea, "PCエリア初期化エラー"},
                                                 {ids::kNaviArea, "ナビエリア初期化エラー"}};
    for (auto [area, error] : areas) {
        SCOPED_TRACE(error);
        view.refuseColumnsOf = area;
        int result = area == ids::kServerArea ? window->ServerListAreaInit()
                     : area == ids::kPcArea   ? window->PcListAreaInit()
                                              : window->NaviListAreaInit();
        EXPECT_EQ(result, 1);
        EXPECT_EQ(log.Count(error), 1u);
    }
    view.refuseColumnsOf = 0;
    EXPECT_EQ(window->ServerListAreaInit(), 0);
    EXPECT_EQ(log.Count("サーバエリア初期化エラー"), 1u);
}

TEST_F(ListAreasTest, ACellWithoutItsRowLogsTheColumnsFailure) {
    LogCapture log(world.root);
    // No row 0 yet in any area: every cell but column 0 fails, each with its own line.
    EXPECT_EQ(window->SetServerAreaData(1, "x"), 1);
    EXPECT_EQ(window->SetServerAreaData(2, "x"), 1);
    EXPECT_EQ(window->SetNaviAreaData(2, "x"), 1);
    EXPECT_EQ(window->SetPcAreaItem(3, 0, "x"), 1);
    EXPECT_EQ(window->SetNaviAreaData(4, "x"), 0);  // beyond the columns: nothing to do
    EXPECT_EQ(log.Count("データ設定エラー"), 1u);
    EXPECT_EQ(log.Count("内容設定エラー"), 2u);
    EXPECT_EQ(log.Count("ステータス設定エラー"), 1u);
    EXPECT_EQ(window->SetServerAreaData(0, ""), 0);
    EXPECT_EQ(window->SetServerAreaData(2, "x"), 0);
}

TEST_F(ListAreasTest, HistoryAndListsLogAsTheWindow) {
    TestWorld::WriteFile(History(), Section(1, "A版"));
    LogCapture log(world.root);
    window->GetHistoryData();
    window->PcListAreaInit();
    window->SetPcAreaData();
    window->SetHistoryData();
    ASSERT_FALSE(log.Lines().empty());
    for (const LogCapture::Line& line : log.Lines())
        if (line.source != ".\\Common") {
            EXPECT_EQ(line.source, ".\\veltranedlg") << line.text;
        }
}
