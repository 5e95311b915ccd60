// The program started as a dealer's batch starts it: the built executable as a process of its
// own, on the simulated machine and the map-update service on loopback, run by a script from
// machine.ini or from its options. What it leaves behind is checked: the exit status, the
// transcript, the result file and the unit. The program runs on the real clock here.
#include <sys/wait.h>

#include <cstdlib>

#include "WorkflowWorld.h"
#include "platform/CodePage.h"
#include "platform/Mutex.h"
#include "support/BuildFolders.h"

namespace fs = std::filesystem;

class CommandLineTest : public WorkflowWorld {
protected:
    void SetUp() override {
        WorkflowWorld::SetUp();
        program = world.root + "/program";
        for (const char* name : {"veltrane", "libDecode.so", "libsha512.so", "Message.ini"})
            fs::copy_file(BinFolder() + "/" + name, program + "/" + name);
        Settings("http://127.0.0.1:9/map-dl");
    }
    void Settings(const std::string& url) {
        TestWorld::WriteFile(program + "/Veltrane.ini", "[VELTRANE]\r\nEXTERNAL_INTERFACE_URL=" + url +
                                                            "\r\nMAPFOLDER=" + theApp.MapFolder + "\r\n");
    }
    // Runs the program with these options (and the script's text in script.txt); its exit status.
    int RunProgram(const std::string& options, const std::string& scriptUtf8 = "") {
        if (!scriptUtf8.empty()) TestWorld::WriteFile(world.root + "/script.txt", scriptUtf8);
        const std::string command = "cd '" + program + "' && VELTRANE_MACHINE='" + world.root +
                                    "/machine' timeout 300 ./veltrane " + options + " > '" + world.root +
                                    "/output.txt' 2> '" + world.root + "/errors.txt' < /dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The script named by machine.ini's [Automation], on the headless front end.
    int RunConfigured(const std::string& scriptUtf8) {
        std::ofstream(world.root + "/machine/machine.ini", std::ios::app)
            << "[Automation]\nFrontEnd=headless\nScript=" << world.root << "/script.txt\n";
        return RunProgram("", scriptUtf8);
    }
    std::string Transcript() const { return TestWorld::ReadFile(world.root + "/script.txt.transcript"); }
    std::string Errors() const { return TestWorld::ReadFile(world.root + "/errors.txt"); }
    std::string Result() const { return TestWorld::ReadFile(world.root + "/result.json"); }
    // The transcript's lines from the first one holding `from`, without their stamps.
    std::vector<std::string> LinesFrom(const std::string& from) const {
        std::vector<std::string> lines;
        std::istringstream text(Transcript());
        for (std::string line; std::getline(text, line);)
            if (!lines.empty() || line.find(from) != std::string::npos)
                lines.push_back(line.substr(line.find("] ") + 2));
        return lines;
    }

    std::string program;
};

// The two sessions a new user measured. With the unit plugged in, the window's own hold of the
// unit left the loop without a timer, so the wait slept until the front end gave up on the
// window: no FAILED line, and status 0. With no unit, the connection dialog's own 30 s ran
// before the wait's deadline was looked at.
TEST_F(CommandLineTest, AFailingWaitIsReportedAtItsDeadlineAndEndsWithStatusOne) {
    // The program runs on the real clock: the line fails within a second of its deadline.
    auto expectFailedAtDeadline = [this](const std::string& shown) {
        const std::vector<std::string> lines = LinesFrom("FAILED");
        ASSERT_GE(lines.size(), 2u) << Transcript();
        const std::string head = "FAILED line 2 (wait 1028 \"XYZ\" 3000): timed out after ";
        ASSERT_EQ(lines[0].rfind(head, 0), 0u) << lines[0];
        size_t digits = 0;
        const int waited = std::stoi(lines[0].substr(head.size()), &digits);
        EXPECT_GE(waited, 3000);
        EXPECT_LT(waited, 4000);
        EXPECT_EQ(lines[0].substr(head.size() + digits), " ms; it shows \"" + shown + "\"");
        EXPECT_EQ(lines[1], "script failed; closing the windows");
    };
    navisim::CreateUnit(Unit());
    EXPECT_EQ(RunConfigured("press 174:1\nwait 1028 \"XYZ\" 3000\nmenu 32780\n"), 1);
    expectFailedAtDeadline("接続済み");

    navisim::Unplug("navi");
    EXPECT_EQ(RunConfigured("pause 100\nwait 1028 \"XYZ\" 3000\n"), 1);
    expectFailedAtDeadline("");
}

TEST_F(CommandLineTest, AScriptThatCannotBeParsedEndsWithStatusTwoBeforeAnyWindow) {
    EXPECT_EQ(RunProgram("--script ../script.txt --result ../result.json", "press 1014\nkey F4\n"), 2);
    EXPECT_NE(Errors().find("script.txt: line 2:"), std::string::npos) << Errors();
    EXPECT_NE(Transcript().find("FAILED line 2:"), std::string::npos) << Transcript();
    EXPECT_EQ(Transcript().find("dialog 174"), std::string::npos) << Transcript();
    EXPECT_NE(Result().find("{\"outcome\":\"unreadable\",\"failure\":\"line 2:"), std::string::npos) << Result();

    EXPECT_EQ(RunProgram("--script ../missing.txt"), 2);
    EXPECT_NE(Errors().find("cannot read"), std::string::npos) << Errors();
    EXPECT_EQ(RunProgram("--scirpt x"), 2);
    EXPECT_NE(Errors().find("unknown option --scirpt"), std::string::npos) << Errors();
    EXPECT_EQ(RunProgram("--help"), 0);
    const std::string usage = TestWorld::ReadFile(world.root + "/output.txt");
    for (const char* option : {"--script", "--transcript", "--screenshots", "--result", "--front-end headless|qt"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

// A dealer's batch from the command line (docs/automation.md): the update downloaded once, then
// transferred onto two units one after the other; each result file tells the batch what
// happened.
TEST_F(CommandLineTest, ADealersBatchDownloadsOnceAndUpdatesTwoUnits) {
    const mkupdate::Contents contents = mkupdate::BuildUpdateSet(config.updateSet, {});
    StartService();
    Settings(theApp.ServiceUrl);
    const std::string options = "--front-end headless --script ../script.txt --result ../result.json";
    EXPECT_EQ(RunProgram(options,
                         "press 174:1\npause 2000\npress 1014\nbox OK\njob download 600000\n"
                         "wait 1014 \"ﾀﾞｳﾝﾛｰﾄﾞ開始\" 60000\n"),
              0)
        << Transcript();
    EXPECT_NE(Result().find("\"unitVersionBefore\":null,\"unitVersionAfter\":null,\"transferredSet\":null"),
              std::string::npos)
        << Result();
    EXPECT_EQ(Result().find("\"downloadMilliseconds\":null"), std::string::npos) << Result();

    const std::string image = world.root + "/image.img";
    TestWorld::WriteFile(image, WithBootSignatures(contents.image));
    for (int unit = 1; unit <= 2; ++unit) {
        navisim::CreateUnit(Unit());
        EXPECT_EQ(RunProgram(options, R"(press 174:1
wait 1028 "接続済み" 60000
pause 1000
check 0
dialog 146 OK
box OK
press 1013
job transfer 600000
wait 1028 "未接続" 60000
)"),
                  0)
            << Transcript();
        EXPECT_NE(Transcript().find("end of script; closing the windows"), std::string::npos);
        EXPECT_EQ(Result().rfind("{\"outcome\":\"completed\",\"failure\":null,\"unitVersionBefore\":\"20100601\","
                                 "\"unitVersionAfter\":\"20260411\",\"transferredSet\":\"20260411\","
                                 "\"lastErrorKind\":null,\"lastErrorCode\":null,\"lastErrorMessage\":null,"
                                 "\"downloadMilliseconds\":null,\"transferMilliseconds\":",
                                 0),
                  0u)
            << Result();
        EXPECT_EQ(Result().find("\"transferMilliseconds\":null"), std::string::npos) << Result();
        navisim::Plug("navi");
        EXPECT_TRUE(navisim::Check("navi", image).imageMatches) << "unit " << unit;
    }
    EXPECT_EQ(Calls("TSC"), 2u);

    // The last unit again, which holds the update now: the transfer is refused. The script's
    // lines all ran (status 0); the result tells the refusal.
    EXPECT_EQ(
        RunProgram(options, "press 174:1\nwait 1028 \"接続済み\" 60000\npause 1000\ncheck 0\nbox OK\npress 1013\n"), 0)
        << Transcript();
    EXPECT_NE(Result().find("\"unitVersionBefore\":\"20260411\",\"unitVersionAfter\":\"20260411\","
                            "\"transferredSet\":null,\"lastErrorKind\":"),
              std::string::npos)
        << Result();
    EXPECT_NE(Result().find("\"lastErrorCode\":\"E17\",\"lastErrorMessage\":\""), std::string::npos) << Result();
}

// The program ends on its own before the script does (here a second copy, which shows nothing):
// the line it was on fails, so a batch never takes an update that did not run for done.
TEST_F(CommandLineTest, AProgramThatEndsBeforeItsScriptFailsTheLineItWasOn) {
    ASSERT_NE(platform::CreateMutexA(true, "Veltrane"), nullptr);
    EXPECT_EQ(RunProgram("--front-end headless --script ../script.txt", "wait 1028 \"x\" 1000\n"), 1);
    EXPECT_EQ(LinesFrom("FAILED"), (std::vector<std::string>{"FAILED line 1 (wait 1028 \"x\" 1000): the program's "
                                                             "windows closed before it ran",
                                                             "script failed; closing the windows"}));
}
