#include <gtest/gtest.h>

#include "state/VeltraneApp.h"
#include "support/TestWorld.h"

class MessageCatalogueTest : public ::testing::Test {
protected:
    void SetUp() override {
        theApp.ResetState();
        std::string ini = world.root + "/program/Message.ini";
        TestWorld::WriteFile(ini,
                             "[MSG_ERROR_NAVI]\r\nERROR_006=最新版です。\\n(#1)\r\nERROR_003=書込失敗(#1)#2\r\n"
                             "[MSG_ERROR_DOWNLOAD]\r\nERROR_001=#1 / #2 / #3 / #1\r\n"
                             "[MSG_ERROR_SYSTEM]\r\nERROR_001=システム(#1)\r\n");
        theApp.MessageIniPath = world.Win(ini);
    }
    platform::MessageBoxRequest LastBox() { return world.view.Boxes().back().request; }
    TestWorld world;
    MessageCatalogue catalogue;
};

TEST_F(MessageCatalogueTest, ErrorTextsAreFilledInTheirOrder) {
    EXPECT_EQ(catalogue.ShowErrorMessage(505, "E10", "note"), 1);
    EXPECT_EQ(LastBox().text, "最新版です。\n(E10)");
    EXPECT_EQ(LastBox().caption, "最新版");
    EXPECT_EQ(LastBox().type, platform::MB_OK | platform::MB_ICONINFORMATION);
    EXPECT_EQ(catalogue.NoteText, "note");

    catalogue.SetDetailText("通信");
    catalogue.SetNumberText(12.345);
    catalogue.ShowErrorMessage(400, "E01", "");
    EXPECT_EQ(LastBox().text, "通信 / 12.3 / E01 / 通信");
    EXPECT_EQ(LastBox().type, platform::MB_OK | platform::MB_ICONWARNING);

    catalogue.ShowErrorMessage(502, "E03", "");
    EXPECT_EQ(LastBox().text,
              "書込失敗(E03)\nまた、地図の転送に失敗しましたので、メニューから「ナビデータ消去」を実行してください。");
    catalogue.ShowErrorMessage(501, "E01", "");
    EXPECT_EQ(LastBox().text, "書込失敗(E01)");
}

TEST_F(MessageCatalogueTest, FixedCodesBuiltInTextsAndUnknownKinds) {
    catalogue.ShowErrorMessage(901, "E77", "");
    EXPECT_EQ(LastBox().text, "システム(E08)");
    theApp.MessageIniPath.clear();  // built-in texts need no file
    catalogue.ShowErrorMessage(1102, "E03", "");
    EXPECT_EQ(LastBox().text, "ナビゲーションが見つかりませんでした。");
    EXPECT_EQ(LastBox().caption, "ナビゲーションの再認識");
    catalogue.ShowErrorMessage(12345, "E99", "");
    EXPECT_EQ(LastBox().text, "");
    EXPECT_EQ(LastBox().caption, "エラー");
    EXPECT_EQ(LastBox().type, platform::MB_OK | platform::MB_ICONERROR);
    catalogue.ShowErrorMessage(801, "E04", "");
    EXPECT_FALSE(LastBox().owned);
}

TEST_F(MessageCatalogueTest, ConfirmationsReturnTheAnswerOfQuestionsOnly) {
    catalogue.EstimatedMinutes = 125;
    world.view.AnswerNextBox(platform::IDCANCEL);
    EXPECT_EQ(catalogue.ShowConfirmMessage(902), platform::IDCANCEL);
    EXPECT_NE(LastBox().text.find("【2時間5分】"), std::string::npos);
    EXPECT_TRUE(LastBox().englishLabels);
    EXPECT_EQ(LastBox().type, platform::MB_OKCANCEL | platform::MB_ICONINFORMATION);
    catalogue.EstimatedMinutes = 45;
    catalogue.ShowConfirmMessage(902);
    EXPECT_NE(LastBox().text.find("【45分】"), std::string::npos);

    catalogue.SetDataName("2026年春版");
    EXPECT_EQ(catalogue.ShowConfirmMessage(2301), 0);
    EXPECT_NE(LastBox().text.find("【2026年春版】"), std::string::npos);
    EXPECT_EQ(LastBox().type, platform::MB_OK | platform::MB_ICONINFORMATION);
    size_t shown = world.view.Boxes().size();
    EXPECT_EQ(catalogue.ShowConfirmMessage(7), 0);
    EXPECT_EQ(world.view.Boxes().size(), shown);
}
