// The main window on the headless front end against mapservice (in process, on a free loopback
// port), update sets made by mkupdate and units made by navisim. The files that use it are
// UTF-8: the window's CP932 texts are compared through J().
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "Certificates.h"
#include "MapService.h"
#include "WindowWorld.h"
#include "state/ResourceIds.h"
#include "platform/CodePage.h"
#include "support/ShippedMessages.h"
#include "tools/mkupdate/UpdateSet.h"

// The window's text for a UTF-8 literal.
inline std::string J(const char* utf8) { return *platform::Utf8ToCp932(utf8); }

class WorkflowWorld : public WindowWorld {
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
    void TearDown() override {
        WindowWorld::TearDown();
        // Kept connections would hold up the service's stop for its keep-alive second.
        theApp.Internet.Reset();
    }
    void StartService() {
        service = std::make_unique<mapservice::MapService>(config);
        service->Start();
        theApp.ServiceUrl = "http://127.0.0.1:" + std::to_string(service->HttpPort()) + "/map-dl";
    }
    // Files paced to 40 kB/s, long enough for a press meanwhile. The line test's entry is kept
    // to two paced pieces: measured on the machine's clock it is then a fast line, and no slow
    // line's question comes between the press and the download.
    void PaceFiles() {
        config.bytesPerSecond = 40000;
        config.lineTestBytes = 4000;
    }
    std::string OfferName() const { return J(config.offer.productName.c_str()); }
    // The service's call log, read again only when it has grown: tests ask it between any two
    // messages of the window, and the service only appends to it.
    const std::string& CallLog() const {
        const std::string path = world.root + "/calls.jsonl";
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(path, error);
        if (error) callLog_.clear();
        if (!error && size != callLog_.size()) callLog_ = TestWorld::ReadFile(path);
        return callLog_;
    }
    size_t Captioned(const char* caption) {
        size_t count = 0;
        for (const auto& box : view.Boxes()) count += box.request.caption == J(caption);
        return count;
    }
    bool BoxCaptioned(const char* caption) { return Captioned(caption) > 0; }
    // The user clicks the row's check box unless it is checked already.
    void CheckRow(int row) {
        if (view.IsRowChecked(ids::kPcArea, row)) return;
        view.SetRowChecked(ids::kPcArea, row, true);
        window->OnListItemChanged({ids::kPcArea, row, platform::kStateChecked});
    }

    // The text the user reads for a kind and code, as the delivered Message.ini words it.
    static std::string Message(int kind, const char* code) { return shipped::Message(kind, code); }
    std::string LastBox() {
        auto boxes = view.Boxes();
        return boxes.empty() ? "" : boxes.back().request.text;
    }
    size_t Calls(const char* call) const {
        const std::string& log = CallLog();
        const std::string mark = std::string("\"call\":\"") + call + "\"";
        size_t count = 0;
        for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) ++count;
        return count;
    }
    // A download of the offer, finished in an earlier run, in the map folder and the history.
    void EarlierDownload(const std::string& status = "ダウンロード完了") {
        mkupdate::BuildUpdateSet(Maps() + "/20260411", {});
        for (const char* sub : {"CONF", "RENEWAL", "FLASH", "FLASH/RENEWAL", "FLASH2"})
            std::filesystem::create_directories(Maps() + "/20260411/" + sub);
        TestWorld::WriteFile(
            History(),
            J(("[HISTORY1]\r\nNAME=" + config.offer.productName + "\r\nSTATUS=" + status +
               "\r\nVERSION=20260411\r\nSIZE=0.100000\r\nFOLDER=" + *platform::Cp932ToUtf8(theApp.MapFolder) + "\r\n")
                  .c_str()));
    }
    // An update's image as the unit holds it after a transfer, which restores both boot signatures last.
    static std::string WithBootSignatures(std::string image) {
        for (size_t at : {size_t{510}, size_t{2560 + 510}})
            if (at + 1 < image.size()) image.replace(at, 2, "\x55\xAA");
        return image;
    }
    bool Ready() { return !theApp.OfferName.empty() && window->NaviConnected == 1; }
    // The unit "navi" checked against the update's image as a finished transfer leaves it,
    // plugged in again first unless it still is.
    navisim::CheckReport CheckUnitHolds(const std::string& updateImage, bool plug = true) const {
        const std::string expected = world.root + "/image.bin";
        TestWorld::WriteFile(expected, WithBootSignatures(updateImage));
        if (plug) navisim::Plug("navi");
        return navisim::Check("navi", expected);
    }

    mapservice::ServiceConfig config;
    std::unique_ptr<mapservice::MapService> service;

private:
    mutable std::string callLog_;  // CallLog's last reading
};
