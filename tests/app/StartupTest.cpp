// The program's start on a program folder of its own: the settings, version and libraries it
// reads, the windows it shows, and a second copy or a missing library that ends it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Mutex.h"
#include "state/VeltraneApp.h"
#include "support/BuildFolders.h"
#include "support/TestWorld.h"

namespace fs = std::filesystem;

// The start-up runs in this process on a program folder of the test's own, holding copies of
// the built executable (for its version resource) and of the libraries.
class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        program = world.root + "/program";
        for (const char* name : {"veltrane", "libDecode.so", "libsha512.so", "Message.ini"})
            fs::copy_file(BinFolder() + "/" + name, program + "/" + name);
        // The service is a closed loopback port: the window's offer request goes nowhere else.
        TestWorld::WriteFile(program + "/Veltrane.ini",
                             "[VELTRANE]\r\nVERSION=00000000\r\nPRODUCT_NUMBER=VT-01\r\nLINE_SPEED=12abc\r\n"
                             "EXTERNAL_INTERFACE_URL=http://127.0.0.1:9/map-dl\r\n");
        platform::SetModuleFileNameForProcess(program + "/veltrane");
        // The user closes each window as soon as it has settled.
        world.view.SetIdleHook([this](HeadlessView& view) {
            opened.push_back(view.GetControlText(kConnectionDialog, kConnectionStateText));
            view.EndDialog(kConnectionDialog, platform::IDOK);
            view.EndDialog(platform::IDD_MAIN_WINDOW, platform::IDOK);
            return true;
        });
    }
    void TearDown() override { platform::SetModuleFileNameForProcess(""); }

    static constexpr int kConnectionDialog = 174;
    static constexpr int kConnectionStateText = 1060;
    TestWorld world;
    std::string program;
    std::vector<std::string> opened;
};

TEST_F(StartupTest, ReadsSettingsRewritesTheVersionAndBindsBothLibraries) {
    theApp.ResetState();
    EXPECT_EQ(theApp.ServiceUrl, kBuiltInServiceUrl);
    EXPECT_EQ(std::string(kBuiltInServiceUrl).size(), 34u);
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_TRUE(world.view.Boxes().empty());
    EXPECT_EQ(theApp.ProgramFolder, world.Win(program) + "\\");
    EXPECT_EQ(theApp.OwnVersion, "01000003");
    EXPECT_NE(TestWorld::ReadFile(program + "/Veltrane.ini").find("VERSION=01000003\r\n"), std::string::npos);
    EXPECT_EQ(theApp.ProductNumber, "VT-01");
    EXPECT_EQ(theApp.LineSpeed, 12);
    // Without MAPFOLDER the window's free-space step falls back to the program folder.
    EXPECT_EQ(theApp.MapFolder, theApp.ProgramFolder);
    EXPECT_EQ(theApp.HistoryIniPath, theApp.ProgramFolder + "History.ini");
    ASSERT_NE(theApp.pDecodeEx, nullptr);
    ASSERT_NE(theApp.pGetHash, nullptr);
    // The bound entry points are the real libraries.
    void* handle = theApp.pCreateAlgorithm();
    EXPECT_EQ(theApp.pInitAlgorithm(handle), 0);
    EXPECT_EQ(theApp.pGetHashLength(handle), 64);
    theApp.pDestroyAlgorithm(handle);
}

TEST_F(StartupTest, ShowsTheConnectionInformationThenRunsTheMainWindow) {
    EXPECT_FALSE(theApp.InitInstance());
    // The connection dialog looked for the unit before the user closed it; then the window ran.
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], "未接続");
    EXPECT_EQ(world.view.ControlState(platform::IDD_MAIN_WINDOW, 1015).text.rfind("ドライブ ", 0), 0u);
    EXPECT_TRUE(world.view.Boxes().empty());
}

TEST_F(StartupTest, AConfiguredEndpointReplacesTheBuiltInOne) {
    TestWorld::WriteFile(
        program + "/Veltrane.ini",
        "[VELTRANE]\r\nEXTERNAL_INTERFACE_URL=https://127.0.0.1:8443/map-dl\r\nMAPFOLDER=C:\\maps\r\n");
    theApp.InitInstance();
    EXPECT_EQ(theApp.ServiceUrl, "https://127.0.0.1:8443/map-dl");
    EXPECT_EQ(theApp.HistoryIniPath, "C:\\maps\\History.ini");
}

TEST_F(StartupTest, ASecondCopyEndsSilently) {
    EXPECT_FALSE(theApp.InitInstance());
    fs::remove(program + "/libsha512.so");  // would show a box, were the check reached
    EXPECT_FALSE(theApp.InitInstance());
    EXPECT_TRUE(world.view.Boxes().empty());
}

// A library that an earlier test loaded stays loaded in this process (as on Windows), so a
// missing one is checked in a fresh process.
TEST_F(StartupTest, AMissingLibraryStopsWithE04) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    fs::remove(program + "/libsha512.so");
    EXPECT_EXIT(
        {
            bool ended = theApp.InitInstance();
            auto boxes = world.view.Boxes();
            bool shown = boxes.size() == 1 && boxes[0].request.text.find("E04") != std::string::npos &&
                         !boxes[0].request.owned && boxes[0].request.type == (platform::MB_OK | platform::MB_ICONERROR);
            fs::remove_all(world.root);  // exit skips the world's own clean-up
            std::exit(ended && shown ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(StartupTest, ALibraryWithoutGetHashStopsWithE04) {
    fs::remove(program + "/libsha512.so");
    fs::copy_file(TestsFolder() + "/libsha512_without_gethash.so", program + "/libsha512.so");
    EXPECT_TRUE(theApp.InitInstance());
    EXPECT_EQ(world.view.Boxes().size(), 1u);
    EXPECT_EQ(theApp.Sha512Library, nullptr);
}

// The program itself, started while this process holds the instance: it ends at once, shows
// nothing and writes no log although debugger.ini asks for one.
TEST_F(StartupTest, ASecondCopyStartedAsAnotherProcessEndsSilentlyWithoutALog) {
    ASSERT_NE(platform::CreateMutexA(true, "Veltrane"), nullptr);
    ASSERT_NE(platform::GetLastError(), platform::ERROR_ALREADY_EXISTS);
    TestWorld::WriteFile(program + "/debugger.ini",
                         "[debugger]\r\nDebugMode=Yes\r\nLogLevel=1\r\nLogFile=veltrane.log\r\n");
    // Were it to get past the check, the headless window would wait for a user: the timeout ends it.
    TestWorld::WriteFile(world.root + "/machine/machine.ini", "[Automation]\r\nFrontEnd=headless\r\n");
    const std::string command = "cd '" + program + "' && VELTRANE_MACHINE='" + world.root +
                                "/machine' timeout 60 ./veltrane > '" + world.root + "/output.txt' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(TestWorld::ReadFile(world.root + "/output.txt"), "");
    for (const auto& entry : fs::directory_iterator(program))
        EXPECT_NE(entry.path().extension(), ".log") << entry.path();
    EXPECT_TRUE(world.view.Boxes().empty());
}
