// The logger's settings from debugger.ini, its levels, the removal of old log files, lines cut
// safely whatever the format and its arguments, and the hex dump.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "base/Logger.h"
#include "platform/Files.h"
#include "support/TestWorld.h"

namespace {

static constexpr char kLogSource[] = ".\\Common";

// The logger reads debugger.ini from the program folder; each test's program lies in its world.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetModuleFileNameForProcess(world.root + "/veltrane"); }
    void TearDown() override {
        WriteIni("");
        LogInit();  // logging off again, the file closed
        platform::SetModuleFileNameForProcess("");
    }
    void WriteIni(const std::string& settings) {
        TestWorld::WriteFile(world.root + "/debugger.ini", "[debugger]\r\n" + settings);
    }
    std::string Read(const std::string& name) { return TestWorld::ReadFile(world.root + "/" + name); }
    bool Exists(const std::string& name) { return std::filesystem::exists(world.root + "/" + name); }

    TestWorld world;
};

}  // namespace

TEST_F(LoggerTest, LevelsBelowTheLogLevelAreNotWritten) {
    WriteIni("DebugMode=Yes\r\nLogLevel=4\r\nLogFile=a.log\r\n");
    LogInit();
    VLOG(LOG_TRACE, "FileRead開始[%s]", "x");
    VLOG(LOG_ERROR, "ファイルオープンエラー[%d]", 803);
    VLOG(LOG_EXCEPTION, "例外");
    std::string log = Read("a.log");
    EXPECT_EQ(log.find("FileRead"), std::string::npos);
    // 2026/12/06 10:30:00:000 on the test clock; line numbers are this file's.
    EXPECT_NE(log.find("2026/12/06 10:30:00:000:ファイルオープンエラー[803],.\\Common,"), std::string::npos) << log;
    EXPECT_NE(log.find(":例外,.\\Common,"), std::string::npos);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
}

TEST_F(LoggerTest, OffWithoutDebugModeButDeleteOnStartStillDeletes) {
    TestWorld::WriteFile(world.root + "/a.log", "old");
    TestWorld::WriteFile(world.root + "/20001201x.log", "old");
    WriteIni("DebugMode=No\r\nFileFixMode=Yes\r\nDeleteOnStart=Yes\r\nLogDays=0\r\nLogFile=a.log\r\n");
    LogInit();
    VLOG(LOG_ERROR, "never");
    EXPECT_FALSE(Exists("a.log"));
    EXPECT_TRUE(Exists("20001201x.log")) << "old files are removed only in debug mode";
    EXPECT_FALSE(Exists("20261206a.log"));
}

TEST_F(LoggerTest, FileFixModeRemovesOldLogsAndWritesTheDatedFile) {
    for (const char* name :
         {"20261202debug.log", "20261203debug.log", "20261204debug.log", "notes.log", "20261202keep.txt"})
        TestWorld::WriteFile(world.root + "/" + name, "x");
    WriteIni("DebugMode=Yes\r\nFileFixMode=Yes\r\nLogDays=3\r\nLogFile=debug.log\r\n");
    LogInit();
    EXPECT_FALSE(Exists("20261202debug.log"));  // four days old
    EXPECT_FALSE(Exists("20261203debug.log"));  // three days old: the limit itself
    EXPECT_TRUE(Exists("20261204debug.log"));   // two days old
    EXPECT_FALSE(Exists("notes.log"));          // no date: 31 December 1999
    EXPECT_TRUE(Exists("20261202keep.txt"));
    VLOG(LOG_INFO, "line");
    EXPECT_NE(Read("20261206debug.log").find(":line,.\\Common,"), std::string::npos);
}

TEST_F(LoggerTest, PercentSignsInArgumentsStayAndOverlongFormatsAreCutSafely) {
    WriteIni("DebugMode=Yes\r\nLogFile=p.log\r\n");
    LogInit();
    VLOG(LOG_INFO, "%s|%d%%", "100%s", 5);
    std::string longFormat(300, 'a');
    longFormat += "%s%s%s";
    // The format's conversions fall behind the cut: none of them may be expanded.
    LogWrite(".\\Common", LOG_INFO, 1, longFormat.c_str(), "X", "Y", "Z");
    std::string longArgument(5000, 'b');
    VLOG(LOG_INFO, "%s", longArgument.c_str());
    std::string log = Read("p.log");
    EXPECT_NE(log.find(":100%s|5%,.\\Common,"), std::string::npos) << log;
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(log.substr(start, end - start + 1));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_LE(lines[1].size(), 255u);
    EXPECT_EQ(lines[1].find('X'), std::string::npos);
    EXPECT_NE(lines[1].find(",.\\Common,1\n"), std::string::npos) << "the cut keeps the source and line";
    EXPECT_EQ(lines[2].size(), 2999u);
}

TEST_F(LoggerTest, DumpWritesTheHexTable) {
    WriteIni("DebugMode=Yes\r\nLogFile=d.log\r\n");
    LogInit();
    unsigned char bytes[32];
    for (int i = 0; i < 32; ++i) bytes[i] = static_cast<unsigned char>(i < 16 ? i : 'A' + i - 16);
    LogDump(bytes);
    std::string log = Read("d.log");
    EXPECT_NE(log.find(": << データ >> ( 32 bytes )\n"), std::string::npos) << log;
    EXPECT_NE(log.find("ｱﾄﾞﾚｽ 00 01 02"), std::string::npos);
    EXPECT_NE(log.find("00000 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ................\n"), std::string::npos);
    EXPECT_NE(log.find("00010 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50 ABCDEFGHIJKLMNOP\n"), std::string::npos);
}

TEST_F(LoggerTest, MissingSettingsMeanNoLoggingAndNoFiles) {
    std::filesystem::remove(world.root + "/debugger.ini");
    LogInit();
    VLOG(LOG_EXCEPTION, "例外");
    size_t files = 0;
    for (auto& entry : std::filesystem::directory_iterator(world.root)) files += entry.is_regular_file();
    EXPECT_EQ(files, 0u);
}

// The program runs as administrator: a debugger.ini in a working directory any user may choose
// names no file to delete or append to, and old logs are swept only in the program folder.
TEST_F(LoggerTest, SettingsAndLogsAreThoseOfTheProgramFolderNotTheWorkingDirectory) {
    const std::string elsewhere = world.root + "/machine";
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere);
    TestWorld::WriteFile(elsewhere + "/victim.log", "kept");
    TestWorld::WriteFile(elsewhere + "/debugger.ini",
                         "[debugger]\r\nDebugMode=Yes\r\nFileFixMode=Yes\r\nLogDays=0\r\nDeleteOnStart=Yes\r\n"
                         "LogFile=victim.log\r\n");
    LogInit();
    VLOG(LOG_EXCEPTION, "planted");
    EXPECT_EQ(TestWorld::ReadFile(elsewhere + "/victim.log"), "kept");
    EXPECT_FALSE(Exists("victim.log"));

    WriteIni("DebugMode=Yes\r\nFileFixMode=Yes\r\nLogDays=0\r\nLogFile=own.log\r\n");
    LogInit();
    VLOG(LOG_EXCEPTION, "own");
    EXPECT_EQ(TestWorld::ReadFile(elsewhere + "/victim.log"), "kept");
    EXPECT_NE(Read("20261206own.log").find(":own,.\\Common,"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(elsewhere + "/20261206own.log"));
    std::filesystem::current_path(previous);
}

// A user whose update failed has a log to send although nobody set up debugger.ini: errors and
// the jobs' start and end lines, in the user's data folder, with the run before kept beside.
TEST_F(LoggerTest, KeptLogHoldsErrorsAndJobLinesWithoutDebuggerIniAndKeepsTheRunBefore) {
    std::filesystem::create_directories(world.root + "/user");
    TestWorld::WriteFile(world.root + "/user/Veltrane.log", "last run\n");
    TestWorld::WriteFile(world.root + "/user/Veltrane.prev.log", "the run before\n");
    LogInit();
    VLOG(LOG_TRACE, "FileRead開始");
    VLOG(LOG_INFO, "回線速度");
    VLOG(LOG_ERROR, "ファイルオープンエラー[%d]", 803);
    VLOG_JOB("ジョブ開始[%s]", "転送");
    EXPECT_EQ(KeptLogPath(), world.Win(world.root + "/user/Veltrane.log"));
    std::string log = Read("user/Veltrane.log");
    EXPECT_EQ(log.find("2026/12/06 10:30:00:000:ファイルオープンエラー[803],.\\Common,"), 0u) << log;
    EXPECT_NE(log.find("\n2026/12/06 10:30:00:000:ジョブ開始[転送],.\\Common,"), std::string::npos);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
    EXPECT_EQ(Read("user/Veltrane.prev.log"), "last run\n");
    EXPECT_FALSE(Exists("Veltrane.log")) << "never in the program folder";
}

TEST_F(LoggerTest, DebuggerIniAsksTheKeptLogForMoreButNeverForLessThanErrors) {
    WriteIni("DebugMode=Yes\r\nLogLevel=2\r\n");
    LogInit();
    VLOG(LOG_TRACE, "FileRead開始");
    EXPECT_NE(Read("user/Veltrane.log").find(":FileRead開始,"), std::string::npos);

    WriteIni("DebugMode=Yes\r\nLogLevel=5\r\n");
    LogInit();
    VLOG(LOG_ERROR, "エラー");
    VLOG(LOG_INFO, "情報");
    std::string log = Read("user/Veltrane.log");
    EXPECT_NE(log.find(":エラー,"), std::string::npos);
    EXPECT_EQ(log.find(":情報,"), std::string::npos);
    EXPECT_NE(Read("user/Veltrane.prev.log").find(":FileRead開始,"), std::string::npos);
}

TEST_F(LoggerTest, KeptLogStaysWithinItsBoundKeepingTheNewestLines) {
    LogInit();
    const std::string filler(1000, 'x');
    for (int i = 0; i < 2200; ++i) VLOG(LOG_ERROR, "%s%d", filler.c_str(), i);
    std::string log = Read("user/Veltrane.log");
    EXPECT_LE(log.size(), 2u * 1024u * 1024u);
    EXPECT_EQ(log.rfind("(ログが上限の大きさに達したため、それまでの行を消しました)\n", 0), 0u);
    EXPECT_NE(log.find("x2199,"), std::string::npos);
    EXPECT_EQ(log.find("x0,"), std::string::npos);
}
