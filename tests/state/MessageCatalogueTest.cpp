// The message catalogue's filling of texts, its built-in texts and confirmations, and the
// delivered Message.ini checked kind by kind.
#include <gtest/gtest.h>

#include "state/VeltraneApp.h"
#include "support/BuildFolders.h"
#include "support/ShippedMessages.h"
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

// The delivered Message.ini, kind by kind: the key each kind reads, the placeholders it fills, its
// caption and icon. A text that leaves "#1" or "\n" standing, or reads another kind's key, fails.
class ShippedMessagesTest : public ::testing::Test {
protected:
    void SetUp() override {
        theApp.ResetState();
        theApp.MessageIniPath = world.Win(BinFolder() + "/Message.ini");
    }
    platform::MessageBoxRequest Show(int kind, const char* code) {
        catalogue.ShowErrorMessage(kind, code, "");
        return world.view.Boxes().back().request;
    }
    TestWorld world;
    MessageCatalogue catalogue;
};

TEST_F(ShippedMessagesTest, EveryKindShowsItsOwnTextWithTheCodeItFills) {
    using platform::MB_ICONERROR;
    using platform::MB_ICONINFORMATION;
    using platform::MB_ICONWARNING;
    struct Row {
        int kind;
        const char* caption;
        uint32_t icon;
    };
    const Row rows[] = {
        {401, "エラー", MB_ICONERROR},
        {402, "エラー", MB_ICONERROR},
        {403, "エラー", MB_ICONERROR},
        {406, "エラー", MB_ICONERROR},
        {531, "エラー", MB_ICONWARNING},
        {900, "エラー", MB_ICONWARNING},
        {500, "エラー", MB_ICONWARNING},
        {501, "エラー", MB_ICONERROR},
        {502, "エラー", MB_ICONERROR},
        {503, "エラー", MB_ICONERROR},
        {504, "エラー", MB_ICONERROR},
        {507, "エラー", MB_ICONERROR},
        {514, "エラー", MB_ICONERROR},
        {516, "エラー", MB_ICONERROR},
        {517, "エラー", MB_ICONERROR},
        {518, "エラー", MB_ICONERROR},
        {519, "エラー", MB_ICONERROR},
        {520, "エラー", MB_ICONERROR},
        {521, "エラー", MB_ICONERROR},
        {522, "エラー", MB_ICONERROR},
        {505, "最新版", MB_ICONINFORMATION},
        {506, "エラー", MB_ICONERROR},
        {510, "エラー", MB_ICONWARNING},
        {524, "エラー", MB_ICONWARNING},
        {525, "警告", MB_ICONWARNING},
        {530, "エラー", MB_ICONWARNING},
        {532, "エラー", MB_ICONWARNING},
        {534, "エラー", MB_ICONERROR},
        {600, "エラー", MB_ICONWARNING},
        {601, "エラー", MB_ICONERROR},
        {800, "エラー", MB_ICONERROR},
        {801, "エラー", MB_ICONERROR},
        {810, "エラー", MB_ICONERROR},
        {901, "エラー", MB_ICONERROR},
        {1100, "エラー", MB_ICONERROR},
        {1101, "エラー", MB_ICONERROR},
        {1102, "ナビゲーションの再認識", MB_ICONINFORMATION},
        {1103, "ナビゲーションの再認識", MB_ICONINFORMATION},
        {1200, "エラー", MB_ICONERROR},
        {1201, "エラー", MB_ICONERROR},
        {2100, "ナビ取り外し", MB_ICONINFORMATION},
        {102, "エラー", MB_ICONERROR},
        {404, "エラー", MB_ICONERROR},
    };
    for (const Row& row : rows) {
        platform::MessageBoxRequest box = Show(row.kind, "E42");
        EXPECT_EQ(box.text, shipped::Message(row.kind, "E42")) << row.kind;
        EXPECT_EQ(box.caption, row.caption) << row.kind;
        EXPECT_EQ(box.type, platform::MB_OK | row.icon) << row.kind;
        EXPECT_EQ(box.text.find('#'), std::string::npos) << row.kind;
        EXPECT_EQ(box.text.find("\\n"), std::string::npos) << row.kind;
    }
}

TEST_F(ShippedMessagesTest, TheFreeSpaceRefusalNamesTheDriveAndTheRoomNeeded) {
    catalogue.SetDetailText("D");
    catalogue.SetNumberText(4.75);
    platform::MessageBoxRequest box = Show(400, "E01");
    EXPECT_EQ(box.text, shipped::FreeSpaceMessage("D", "4.8", "E01"));
    EXPECT_EQ(box.type, platform::MB_OK | platform::MB_ICONWARNING);
    catalogue.SetFreeNumberText(3.25);
    EXPECT_EQ(Show(405, "E01").text, shipped::SetSpaceMessage("D", "4.8", "3.2", "E01"));
    // Kind 524 fills nothing but line breaks, whichever code the caller passes.
    EXPECT_EQ(Show(524, "E01").text, Show(524, "").text);
}

TEST_F(ShippedMessagesTest, EveryTextFitsTheBufferItIsReadInto) {
    std::string ini = TestWorld::ReadFile(BinFolder() + "/Message.ini");
    size_t lines = 0;
    for (size_t at = 0; at < ini.size();) {
        size_t end = ini.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
        size_t equals = ini.find('=', at);
        if (equals < end) {
            EXPECT_LE(end - equals - 1, 511u) << ini.substr(at, 9);
        }
        at = end + 2;
        ++lines;
    }
    EXPECT_GT(lines, 30u);
}

// A box raised for a cause the program knows names the next step and where the support report
// is, below the catalogue's own text; the caller's cause holds for the one box that follows.
TEST_F(ShippedMessagesTest, KnownCausesAddTheNextStepAndTheSupportReportFolder) {
    catalogue.SetCause(ErrorCause::UnitRemoved);
    EXPECT_EQ(Show(519, "E08").text, shipped::Message(519, "E08") + shipped::NextStep(shipped::kUnitRemovedStep));
    EXPECT_EQ(Show(519, "E08").text, shipped::Message(519, "E08")) << "the cause was for one box";

    catalogue.SetCause(ErrorCause::AuthorisationRefused);
    EXPECT_EQ(Show(800, "E02").text,
              shipped::Message(800, "E02") +
                  shipped::NextStep(u8"もう一度［転送開始］を押し、管理者の認証を求める画面で管理者のパスワードを"
                                    u8"入力してください。管理者でない場合は、パソコンの管理者にご相談ください。"));
    EXPECT_NE(shipped::NextStep(u8"").find(world.Win(world.root + "/user/SupportReport")), std::string::npos);
    ShownError last = *catalogue.LastError();
    EXPECT_EQ(last.kind, 800);
    EXPECT_EQ(last.code, "E02");
}

TEST_F(MessageCatalogueTest, AnOlderMessageIniWithoutNextStepsShowsTheTextAlone) {
    catalogue.SetDetailText("D");
    catalogue.SetNumberText(5);
    catalogue.ShowErrorMessage(400, "E01", "");
    EXPECT_EQ(LastBox().text, "D / 5.0 / E01 / D");
}
