// A transfer cut off by a power cut, and the program started again: the unit is found without
// its file system and the transfer button finishes the transfer on it, and on nothing else.
// This file is UTF-8: the window's CP932 texts are compared through J().
#include <gtest/gtest.h>

#include <filesystem>

#include "WorkflowWorld.h"
#include "device/NaviDriveImage.h"
#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {

class InterruptedTransferTest : public WorkflowWorld {
protected:
    // A transfer of the earlier download that the unit's power cuts off at half of the image.
    void CutOffTransfer() {
        contents = mkupdate::BuildUpdateSet(Maps() + "/20260411", {});
        StartService();
        EarlierDownload();
        navisim::CreateUnit(Unit());
        navisim::Faults faults;
        faults.powerCutAfterBytes = contents.image.size() / 2;
        navisim::SetFaults("navi", faults);
        Run({Until([&] { return Ready(); }), Do([&] {
                 CheckRow(0);
                 window->OnCommand(ids::kTransferButton);
             }),
             Until([&] { return theApp.TransferThreadHandle.IsNull() && Calls("TSC") == 1; })});
        ASSERT_TRUE(fs::exists(Maps() + "/Transfer.ini"));
        // The record names the unit's USB device, not the disk node beneath it.
        EXPECT_NE(TestWorld::ReadFile(Maps() + "/Transfer.ini")
                      .find("USB\\VID_2F6A&PID_0C31\\ORSOLAN_PORTABLE_NAVI_STORAGE_VT0000000001"),
                  std::string::npos);
        navisim::ClearFaults("navi");
        volumeAfterCut = TestWorld::ReadFile(navisim::UnitImage("navi").string());
    }
    // The program ends and starts again.
    void Restart() {
        window.reset();
        theApp.Navi.Reset();
        window = std::make_unique<CVeltraneDlg>();
    }
    std::string Name() const { return config.offer.productName; }

    mkupdate::Contents contents;
    std::string volumeAfterCut;
};

}  // namespace

TEST_F(InterruptedTransferTest, AfterARestartTheUnitWithoutFilesShowsConnectedAndTheButtonFinishesIt) {
    CutOffTransfer();
    Restart();
    navisim::Plug("navi");
    ASSERT_EQ(platform::GetFileAttributesA("E:\\UPDATE\\NAVIINFO\\DEVICE.DAT"), platform::INVALID_FILE_ATTRIBUTES);
    const std::string status =
        J(("ナビゲーションへのバージョンアップ(地図更新)【" + Name() +
           "】データの転送が途中で中断されています。\r\n「転送開始」ボタンをクリックすると、中断したところから転送を"
           "再開して完了します。")
              .c_str());
    Run({Until([&] { return window->NaviConnected == 1 && Text(ids::kStatusLine) == status; }), Do([&] {
             EXPECT_EQ(Text(ids::kConnectionText), J("接続済み"));
             EXPECT_TRUE(Enabled(ids::kTransferButton));
             // No row is checked: the record says what is finished.
             window->OnCommand(ids::kTransferButton);
         }),
         Until(
             [&] { return BoxCaptioned("転送の完了") && theApp.TransferThreadHandle.IsNull() && Calls("TSC") == 2; })});

    EXPECT_FALSE(fs::exists(Maps() + "/Transfer.ini"));
    EXPECT_FALSE(fs::exists(navisim::UnitFiles("navi") / "UPDATE/NAVIINFO/CANCEL.FLG"));
    navisim::CheckReport report = CheckUnitHolds(contents.image);
    EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
    EXPECT_TRUE(report.bootSignature0);
    EXPECT_TRUE(fs::exists(navisim::UnitFiles("navi") / "UPDATE/RENEWAL/VERINFO.DAT"));
}

TEST_F(InterruptedTransferTest, AnotherUnitGetsNothingAndAMissingSetNamesTheVersionToDownload) {
    CutOffTransfer();
    Restart();
    navisim::UnitOptions other = Unit();
    other.name = "other";
    other.deviceId = "VT0000000002";
    other.instanceId = "USB\\VID_2F6A&PID_0C31\\ORSOLAN_PORTABLE_NAVI_STORAGE_VT0000000002";
    navisim::CreateUnit(other);
    const std::string otherVolume = TestWorld::ReadFile(navisim::UnitImage("other").string());
    const std::string otherUnit =
        J(("接続されているナビゲーションは、前回【" + Name() +
           "】の転送が中断したナビゲーションではありません。\n中断したナビゲーションに続きから転送するには、"
           "「キャンセル」を押して、そのナビゲーションを接続してください。\n「OK」を押すと、接続されているナビゲーショ"
           "ンに"
           "新しく転送します。中断したナビゲーションには、続きから転送できなくなります。")
              .c_str());
    const std::string missingSet =
        J(("転送が中断した地図更新データ【" + Name() + "】がパソコンに見つかりません。\n［ダウンロード開始］で【" +
           Name() +
           "】をもう一度ダウンロードしてから、［転送開始］を押してください。中断したところから転送を再開します。\n"
           "ダウンロードできない場合は、メニューの［ナビゲーションのリカバリー］でナビゲーションを初期化してください。"
           "\n(E17)")
              .c_str());
    Run({Until([&] { return Ready(); }), Do([&] {
             EXPECT_EQ(Text(ids::kStatusLine).find(J("中断")), std::string::npos);
             CheckRow(0);
             view.AnswerNextBox(platform::IDCANCEL);
             window->OnCommand(ids::kTransferButton);
             EXPECT_EQ(LastBox(), otherUnit);
             // The recorded unit comes back, but its set is gone from the PC.
             navisim::Unplug("other");
             navisim::Plug("navi");
             fs::remove_all(Maps() + "/20260411");
         }),
         Until([&] {
             // The status line shows from the hold's start; the lock try ends beside the window.
             return window->NaviConnected == 1 && DriveHeld() &&
                    Text(ids::kStatusLine).find(J("中断")) != std::string::npos;
         }),
         Do([&] {
             window->OnCommand(ids::kTransferButton);
             EXPECT_EQ(LastBox(), missingSet);
         })});
    EXPECT_TRUE(TestWorld::ReadFile(navisim::UnitImage("other").string()) == otherVolume) << "the other unit changed";
    EXPECT_TRUE(TestWorld::ReadFile(navisim::UnitImage("navi").string()) == volumeAfterCut) << "the unit changed";
    EXPECT_TRUE(fs::exists(Maps() + "/Transfer.ini"));
    EXPECT_EQ(Calls("TSC"), 1u);
}
