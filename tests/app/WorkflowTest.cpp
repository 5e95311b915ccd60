// The window's whole workflow on the headless front end against mapservice (in process, on a
// free loopback port), an update set made by mkupdate and a unit made by navisim.
// This file is UTF-8: the window's CP932 texts are compared through J().
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "MapService.h"
#include "WindowWorld.h"
#include "app/ResourceIds.h"
#include "platform/CodePage.h"
#include "tools/mkupdate/UpdateSet.h"

namespace fs = std::filesystem;

namespace {
// The window's text for a UTF-8 literal.
std::string J(const char* utf8) {
    return *platform::Utf8ToCp932(utf8);
}
}  // namespace

class WorkflowTest : public WindowWorld {
protected:
    void SetUp() override {
        WindowWorld::SetUp();
        for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
        config.httpPort = 0;
        config.updateSet = world.root + "/set";
        config.callLog = world.root + "/calls.jsonl";
        // A version number above the unit's 20100601.
        config.offer.verMinor = "11";
    }
    void StartService() {
        service = std::make_unique<mapservice::MapService>(config);
        service->Start();
        theApp.ServiceUrl = "http://127.0.0.1:" + std::to_string(service->HttpPort()) + "/map-dl";
    }
    std::string OfferName() const { return J(config.offer.productName.c_str()); }
    std::string CallLog() const { return TestWorld::ReadFile(world.root + "/calls.jsonl"); }
    bool BoxCaptioned(const char* caption) {
        for (const auto& box : view.Boxes())
            if (box.request.caption == J(caption)) return true;
        return false;
    }
    void CheckRow(int row) {
        view.SetRowChecked(ids::kPcArea, row, true);
        window->OnListItemChanged({ids::kPcArea, row, platform::kStateChecked});
    }

    mapservice::ServiceConfig config;
    std::unique_ptr<mapservice::MapService> service;
};

TEST_F(WorkflowTest, TheOfferShowsOnceTheWindowIsOpenAndFindsAnEarlierDownload) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    // Downloaded in an earlier run.
    TestWorld::WriteFile(History(), J(("[HISTORY1]\r\nNAME=" + config.offer.productName +
                                       "\r\nSTATUS=ダウンロード完了\r\nVERSION=20260411\r\nSIZE=0.100000\r\nFOLDER=" +
                                       *platform::Cp932ToUtf8(theApp.MapFolder) + "\r\n")
                                          .c_str()));
    Run({Until([&] { return !theApp.OfferName.empty(); })});
    EXPECT_EQ(theApp.OfferName, OfferName());
    EXPECT_EQ(window->OfferVersion(), "20260411");
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 1), OfferName());
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 2), J("ダウンロード完了"));
    EXPECT_FALSE(Enabled(ids::kDownloadButton));
    EXPECT_TRUE(Enabled(ids::kTransferButton));
    EXPECT_TRUE(view.Boxes().empty());
}

TEST_F(WorkflowTest, AnOfferTheServiceRefusesLeavesTheServerAreaEmptyWithoutABox) {
    config.resultFaults["MDL"] = {{}, "E00", "E02"};
    StartService();
    Run({Until([&] { return CallLog().find("\"call\":\"MDL\"") != std::string::npos; })});
    EXPECT_EQ(theApp.OfferName, "");
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 1), "");
    EXPECT_TRUE(view.Boxes().empty());
    EXPECT_TRUE(Enabled(ids::kDownloadButton));
}

TEST_F(WorkflowTest, DownloadThenTransferOntoTheUnit) {
    mkupdate::Contents contents = mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    navisim::CreateUnit(Unit());
    Run({Until([&] { return !theApp.OfferName.empty() && window->NaviConnected == 1; }),
         Do([&] { window->OnCommand(ids::kDownloadButton); }),
         Until([&] { return BoxCaptioned("ダウンロードの完了"); }),
         Until([&] { return theApp.DownloadThreadHandle.IsNull() && window->NaviConnected == 1; }),
         Do([&] {
             CheckRow(0);
             window->OnCommand(ids::kTransferButton);
         }),
         Until([&] { return BoxCaptioned("転送の完了"); }),
         Until([&] {
             return theApp.TransferThreadHandle.IsNull() && window->NaviConnected == 0 &&
                    CallLog().find("\"call\":\"TSC\"") != std::string::npos;
         })});

    // The download: both areas and the history say so.
    EXPECT_EQ(view.GetCellText(ids::kServerArea, 0, 2), J("ダウンロード完了"));
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 0, 2), J("ダウンロード完了"));
    EXPECT_NE(TestWorld::ReadFile(History()).find(J("STATUS=ダウンロード完了")), std::string::npos);
    // The transfer: confirmed in its dialog, the unit written and ejected, the service told.
    EXPECT_EQ(view.Opened(), (std::vector<int>{platform::IDD_MAIN_WINDOW, ids::kConfirmationDialog}));
    EXPECT_EQ(view.GetCellText(ids::kNaviArea, 0, 2), J("ナビ転送完了"));
    EXPECT_EQ(Text(ids::kConnectionText), J("未接続"));
    EXPECT_FALSE(Enabled(ids::kRemoveButton));
    std::string log = CallLog();
    size_t completion = log.find("\"call\":\"TSC\"");
    ASSERT_NE(completion, std::string::npos);
    EXPECT_NE(log.find("<maptrs_failure_cd></maptrs_failure_cd>", completion), std::string::npos);

    // The image as the unit holds it: the transfer restores both boot signatures last.
    std::string expected = contents.image;
    for (size_t at : {size_t{510}, size_t{2560 + 510}})
        if (at + 1 < expected.size()) expected.replace(at, 2, "\x55\xAA");
    fs::path image = world.root + "/image.bin";
    TestWorld::WriteFile(image.string(), expected);
    navisim::Plug("navi");
    navisim::CheckReport report = navisim::Check("navi", image);
    EXPECT_TRUE(report.imageMatches) << navisim::Describe(report);
    EXPECT_TRUE(report.bootSignature0);
    EXPECT_TRUE(report.bootSignature2560);
    for (auto& box : view.Boxes()) EXPECT_EQ(box.request.caption.find(J("エラー")), std::string::npos) << *platform::Cp932ToUtf8(box.request.text);
}
