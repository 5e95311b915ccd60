// The download job against the real mapservice serving an update set built by mkupdate, in
// process on a free loopback port.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Certificates.h"
#include "MapService.h"
#include "state/Results.h"
#include "tools/mkupdate/UpdateSet.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "net/DownloadJob.h"
#include "net/ExternalInterface.h"
#include "net/Http.h"
#include "support/DownloadWorld.h"
#include "support/TestWorld.h"

namespace fs = std::filesystem;

namespace {

// A tick count that moves on by a fixed step each time it is read.
class SteppingClock : public platform::FakeClock {
public:
    explicit SteppingClock(uint64_t step) : FakeClock(2026, 12, 6), step_(step) {}
    uint64_t TickMilliseconds() override { return tick_ += step_; }

private:
    uint64_t step_;
    uint64_t tick_ = 0;
};

using Notice = RecordingView::Notice;

}  // namespace

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override { PrepareDownload(world, view, config); }
    void TearDown() override {
        platform::SetView(&world.view);
        // Kept connections would hold up the service's stop for its keep-alive second.
        theApp.Internet.Reset();
    }

    void Start() {
        service = std::make_unique<mapservice::MapService>(config);
        service->Start();
        theApp.ServiceUrl = BaseUrl() + "/map-dl";
    }
    std::string BaseUrl() const { return "http://127.0.0.1:" + std::to_string(service->HttpPort()); }

    // The files of the set, "/"-separated and in the description's order.
    std::vector<std::string> SetFiles() const {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(config.updateSet))
            if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), config.updateSet).generic_string());
        std::sort(files.begin(), files.end());
        return files;
    }
    std::string Downloaded(const std::string& relative) const { return world.root + "/maps/2026041/" + relative; }
    std::string Served(const std::string& relative) const { return (config.updateSet / relative).string(); }

    // The window's preparation: download start, the download folder, the description.
    int Prepare(DOWNLOAD_JOB* job) {
        DOWNLOAD_START_REQUEST request{"VT-01"};
        if (CExternalInterface().DownloadStartRequest(&request, &job->start) != 0) return -1;
        DownloadFolderCreate(job->start.unified_map_ver_gen + job->start.unified_map_ver_major +
                             job->start.unified_map_ver_minor);
        job->completionRequest.model_group_cd = "VT-01";
        return CExternalInterface().GetDownloadConfing(job, 1);
    }
    Notice Run(DOWNLOAD_JOB* job) {
        EXPECT_EQ(StartDownloadThread(job), 0);
        Notice notice = view.First();
        CloseDownloadThread();
        return notice;
    }
    std::string CallLog() const { return TestWorld::ReadFile(world.root + "/calls.jsonl"); }

    // A map file served at CONF/<name> whose byte i is (i + salt) mod 251, so that no piece
    // of it matches another offset or another salt.
    std::string ServeFile(const std::string& name, size_t size, int salt = 0) {
        std::string content(size, '\0');
        for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i + salt) % 251);
        fs::create_directories(config.updateSet / "CONF");
        TestWorld::WriteFile(Served("CONF/" + name), content);
        return content;
    }
    // The first fetch of CONF/<name> is cut off once byte `at` is due.
    void DropOnce(const std::string& name, size_t at) {
        config.dropAfter = mapservice::ByteFault{{1}, at, "CONF/" + name};
    }
    // A start after the program ended: a new job that fetches the description again, no
    // connection kept from before, and a window of its own.
    Notice RunAfterRestart(DOWNLOAD_JOB* job) {
        theApp.Internet.Reset();
        theApp.DownloadedBytes = 0;
        RecordingView window;
        platform::SetView(&window);
        Notice notice{0, -1};
        if (Prepare(job) == 0 && StartDownloadThread(job) == 0) {
            notice = window.First(std::chrono::seconds(120));
            CloseDownloadThread();
        }
        platform::SetView(&view);
        return notice;
    }
    size_t FileRequests(const std::string& relative) const {
        std::string log = CallLog();
        size_t count = 0;
        for (size_t at = 0; (at = log.find("\"path\":\"/map-dl/data/" + relative + "\"", at)) != std::string::npos;
             ++at)
            ++count;
        return count;
    }

    TestWorld world;
    RecordingView view;
    mapservice::ServiceConfig config;
    std::unique_ptr<mapservice::MapService> service;
};

TEST_F(DownloadTest, DownloadsEveryFileIntoItsFolderAndReportsCompletion) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    Start();
    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    std::vector<std::string> files = SetFiles();
    ASSERT_EQ(job.entries.size(), files.size() + 1);
    EXPECT_EQ(job.resumeIndex, 0);

    std::string description;
    ASSERT_EQ(CHttp::Get(job.start.conf_file_url, &description), 0);
    EXPECT_EQ(TestWorld::ReadFile(Downloaded("MapData.XML")), description.substr(description.find("<Map>")));

    EXPECT_EQ(Run(&job), Notice(kNotifyDownloadDone, 0));
    EXPECT_EQ(view.Count(), 1u);
    uint64_t total = 0;
    for (const std::string& file : files) {
        EXPECT_EQ(TestWorld::ReadFile(Downloaded(file)), TestWorld::ReadFile(Served(file))) << file;
        total += fs::file_size(Served(file));
    }
    EXPECT_EQ(theApp.DownloadPercent.load(), 100);
    EXPECT_EQ(theApp.DownloadedBytes.load(), static_cast<double>(total));
    EXPECT_EQ(job.completionResponse.result_cd, "S00");
    EXPECT_NE(CallLog().find("\"call\":\"DLS\""), std::string::npos);
}

TEST_F(DownloadTest, ResumesAtTheFirstFileMissingOrNoLongerMatchingItsDigest) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    Start();
    std::vector<std::string> files = SetFiles();
    DownloadFolderCreate("2026041");
    // The first file is whole and checked again; the second was cut short.
    fs::copy_file(Served(files[0]), Downloaded(files[0]));
    TestWorld::WriteFile(Downloaded(files[1]), "cut");

    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    EXPECT_EQ(job.resumeIndex, 1);
    EXPECT_EQ(job.downloadedBytes.load(), static_cast<double>(fs::file_size(Served(files[0])) + 3));
    EXPECT_EQ(Run(&job), Notice(kNotifyDownloadDone, 0));
    for (const std::string& file : files)
        EXPECT_EQ(TestWorld::ReadFile(Downloaded(file)), TestWorld::ReadFile(Served(file))) << file;
    EXPECT_EQ(FileRequests(files[0]), 0u);

    // A power cut left the first file whole in length with zeros in it: fetched again.
    TestWorld::WriteFile(Downloaded(files[0]), std::string(fs::file_size(Served(files[0])), '\0'));
    DOWNLOAD_JOB again;
    EXPECT_EQ(RunAfterRestart(&again), Notice(kNotifyDownloadDone, 0));
    EXPECT_EQ(again.resumeIndex, 0);
    EXPECT_EQ(TestWorld::ReadFile(Downloaded(files[0])), TestWorld::ReadFile(Served(files[0])));
}

// A kill after the completion call, before the window saved the history: the next start finds
// every file whole and reports nothing again.
TEST_F(DownloadTest, TheCompletionIsReportedOncePerDownload) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    Start();
    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    ASSERT_EQ(Run(&job), Notice(kNotifyDownloadDone, 0));
    DOWNLOAD_JOB again;
    EXPECT_EQ(RunAfterRestart(&again), Notice(kNotifyDownloadDone, 0));
    EXPECT_EQ(again.resumeIndex + 1, static_cast<int>(again.entries.size()));
    std::string log = CallLog();
    size_t reports = 0;
    for (size_t at = 0; (at = log.find("\"call\":\"DLS\"", at)) != std::string::npos; ++at) ++reports;
    EXPECT_EQ(reports, 1u);
    EXPECT_EQ(FileRequests(SetFiles().back()), 1u);
}

class DownloadStopTest : public DownloadTest,
                         public ::testing::WithParamInterface<std::atomic<int32_t> CVeltraneApp::*> {};

TEST_P(DownloadStopTest, StopsWithinOnePieceAndTheNextStartContinuesThePart) {
    // One large file, paced, so that the stop request arrives mid-file.
    const size_t size = 200000;
    std::string content = ServeFile("BIG.DAT", size);
    config.bytesPerSecond = 20000;
    Start();
    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);

    ASSERT_EQ(StartDownloadThread(&job), 0);
    std::string partial = Downloaded("CONF/BIG.DAT");
    std::error_code error;
    uintmax_t seen = 0;
    while (view.Count() == 0 && (seen = fs::file_size(partial, error), error || seen == 0))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    (theApp.*GetParam()).store(1);
    Notice notice = view.First();
    CloseDownloadThread();

    EXPECT_EQ(notice, Notice(kNotifyDownloadStopped, kDownloadStopped));
    // What was on disk, plus one write buffer not yet flushed, plus the piece in flight: all
    // of it kept, with its mark.
    uint64_t kept = fs::file_size(partial);
    EXPECT_EQ(job.currentFileBytes.load(), kept);
    EXPECT_LT(kept, seen + 4096 + 2000);
    EXPECT_LT(kept, size);
    EXPECT_TRUE(fs::exists(partial + ".resume"));
    EXPECT_EQ(job.downloadedBytes.load(), static_cast<double>(kept));

    // The next start, at full speed, asks for the rest only.
    (theApp.*GetParam()).store(0);
    config.bytesPerSecond = 0;
    service.reset();
    Start();
    DOWNLOAD_JOB again;
    EXPECT_EQ(RunAfterRestart(&again), Notice(kNotifyDownloadDone, 0));
    EXPECT_EQ(service->FileBytesSent(), size - kept);
    EXPECT_EQ(again.resumedBytes, kept);
    EXPECT_TRUE(TestWorld::ReadFile(partial) == content);
    EXPECT_FALSE(fs::exists(partial + ".resume"));
    EXPECT_EQ(theApp.DownloadedBytes.load(), static_cast<double>(size));
}

INSTANTIATE_TEST_SUITE_P(PauseAndExit, DownloadStopTest,
                         ::testing::Values(&CVeltraneApp::PauseRequested, &CVeltraneApp::ExitRequested));

TEST_F(DownloadTest, AFileThatDoesNotMatchItsDigestFailsWith402) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    Start();
    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    // The file changes on the server after the description named its digest.
    std::string second = SetFiles()[1];
    TestWorld::WriteFile(Served(second), "changed");

    EXPECT_EQ(Run(&job), Notice(kNotifyDownloadFailed, kDigestFailed));
    EXPECT_EQ(TestWorld::ReadFile(Downloaded(second)), "changed");
    // Fetched whole, it is not fetched again.
    EXPECT_EQ(FileRequests(second), 1u);
    // Only the first file counts as done: one of the entries plus one.
    EXPECT_EQ(theApp.DownloadPercent.load(), 100 / static_cast<int>(job.entries.size() + 1));
    EXPECT_EQ(CallLog().find("\"call\":\"DLS\""), std::string::npos);
}

TEST_F(DownloadTest, ADroppedConnectionFailsAndTheNextStartCompletes) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    mapservice::ByteFault drop;
    drop.times = 1;
    drop.bytes = 30;
    config.dropAfter = drop;
    Start();
    DOWNLOAD_JOB first;
    ASSERT_EQ(Prepare(&first), 0);
    EXPECT_EQ(Run(&first), Notice(kNotifyDownloadFailed, kTransferFailed));

    RecordingView again;
    platform::SetView(&again);
    DOWNLOAD_JOB second;
    ASSERT_EQ(Prepare(&second), 0);
    EXPECT_EQ(second.resumeIndex, 0);
    ASSERT_EQ(StartDownloadThread(&second), 0);
    EXPECT_EQ(again.First(), Notice(kNotifyDownloadDone, 0));
    CloseDownloadThread();
    platform::SetView(&view);
    for (const std::string& file : SetFiles())
        EXPECT_EQ(TestWorld::ReadFile(Downloaded(file)), TestWorld::ReadFile(Served(file))) << file;
}

// A drop at 90 % of a 40 MiB file: the partial file and its mark survive the program, and the
// next start fetches the last 4 MiB, not 40.
TEST_F(DownloadTest, ADropAtNinetyPercentCostsOnlyTheRestAfterTheNextStart) {
    const size_t size = 41'943'040;
    const size_t drop = 37'748'736;
    std::string content = ServeFile("BIG.DAT", size);
    DropOnce("BIG.DAT", drop);
    Start();
    DOWNLOAD_JOB first;
    ASSERT_EQ(Prepare(&first), 0);
    EXPECT_EQ(Run(&first), Notice(kNotifyDownloadFailed, kTransferFailed));
    EXPECT_EQ(fs::file_size(Downloaded("CONF/BIG.DAT")), drop);
    std::string mark = TestWorld::ReadFile(Downloaded("CONF/BIG.DAT.resume"));
    EXPECT_EQ(mark.rfind("ETag: \"", 0), 0u) << mark;
    EXPECT_TRUE(mark.ends_with("\"\r\nContent-Length: 41943040\r\n")) << mark;
    EXPECT_EQ(service->FileBytesSent(), drop);

    DOWNLOAD_JOB second;
    EXPECT_EQ(RunAfterRestart(&second), Notice(kNotifyDownloadDone, 0));
    EXPECT_EQ(service->FileBytesSent() - drop, 4'194'304u);
    EXPECT_TRUE(TestWorld::ReadFile(Downloaded("CONF/BIG.DAT")) == content);
    EXPECT_FALSE(fs::exists(Downloaded("CONF/BIG.DAT.resume")));
    // The history and the estimate count the part found once; the rate is the rest's.
    EXPECT_EQ(theApp.DownloadedBytes.load(), 41943040.0);
    EXPECT_EQ(second.downloadedBytes.load(), 41943040.0);
    EXPECT_EQ(second.measuredBytes.load(), 4'194'304);
}

TEST_F(DownloadTest, AProgramKilledMidFileContinuesFromWhatReachedTheDisk) {
    const size_t size = 3'000'000;
    std::string content = ServeFile("BIG.DAT", size);
    DropOnce("BIG.DAT", 2'000'000);
    Start();
    DOWNLOAD_JOB first;
    ASSERT_EQ(Prepare(&first), 0);
    EXPECT_EQ(Run(&first), Notice(kNotifyDownloadFailed, kTransferFailed));
    // A kill loses what had not reached the disk: the part is shorter than what came.
    fs::resize_file(Downloaded("CONF/BIG.DAT"), 1'234'567);
    uint64_t sent = service->FileBytesSent();

    DOWNLOAD_JOB second;
    EXPECT_EQ(RunAfterRestart(&second), Notice(kNotifyDownloadDone, 0));
    EXPECT_EQ(service->FileBytesSent() - sent, size - 1'234'567);
    EXPECT_TRUE(TestWorld::ReadFile(Downloaded("CONF/BIG.DAT")) == content);
}

// The part on disk cannot be continued: the file is fetched whole and nothing is counted twice.
class StartOverTest : public DownloadTest {
protected:
    static constexpr size_t kSize = 1'000'000;
    static constexpr size_t kDrop = 600'000;

    // Drops the first fetch; `between` changes the world before the next start.
    void DropThenRestart(const std::function<void()>& between) {
        content = ServeFile("BIG.DAT", kSize);
        DropOnce("BIG.DAT", kDrop);
        Start();
        DOWNLOAD_JOB first;
        ASSERT_EQ(Prepare(&first), 0);
        ASSERT_EQ(Run(&first), Notice(kNotifyDownloadFailed, kTransferFailed));
        ASSERT_TRUE(fs::exists(Downloaded("CONF/BIG.DAT.resume")));
        between();
        sentBefore = service->FileBytesSent();
        DOWNLOAD_JOB second;
        EXPECT_EQ(RunAfterRestart(&second), Notice(kNotifyDownloadDone, 0));
        EXPECT_TRUE(TestWorld::ReadFile(Downloaded("CONF/BIG.DAT")) == content);
        EXPECT_FALSE(fs::exists(Downloaded("CONF/BIG.DAT.resume")));
        EXPECT_EQ(theApp.DownloadedBytes.load(), static_cast<double>(kSize));
    }
    uint64_t SentAfterRestart() const { return service->FileBytesSent() - sentBefore; }

    std::string content;
    uint64_t sentBefore = 0;
};

TEST_F(StartOverTest, AFileChangedOnTheServerBetweenAttempts) {
    DropThenRestart([&] { content = ServeFile("BIG.DAT", kSize, 7); });
    EXPECT_EQ(SentAfterRestart(), kSize);
}

TEST_F(StartOverTest, AServerThatIgnoresRanges) {
    config.ranges = false;
    DropThenRestart([] {});
    EXPECT_EQ(SentAfterRestart(), kSize);
}

TEST_F(StartOverTest, APartLongerThanTheServerCanContinue) {
    // The mark says the file is longer than it is: the server answers the range with 416.
    DropThenRestart([&] {
        std::string mark = TestWorld::ReadFile(Downloaded("CONF/BIG.DAT.resume"));
        size_t length = mark.find("Content-Length: ");
        TestWorld::WriteFile(Downloaded("CONF/BIG.DAT.resume"), mark.substr(0, length) + "Content-Length: 2000000\r\n");
        fs::resize_file(Downloaded("CONF/BIG.DAT"), kSize + 10);
    });
    EXPECT_EQ(SentAfterRestart(), kSize);
    EXPECT_NE(CallLog().find("\"status\":416"), std::string::npos);
}

TEST_F(StartOverTest, AResumedFileThatFailsItsDigestIsFetchedOnceWhole) {
    DropThenRestart([&] {
        std::fstream part(Downloaded("CONF/BIG.DAT"), std::ios::in | std::ios::out | std::ios::binary);
        part.put('!');
    });
    // The rest, then the whole file once more.
    EXPECT_EQ(SentAfterRestart(), (kSize - kDrop) + kSize);
    EXPECT_EQ(FileRequests("CONF/BIG.DAT"), 3u);
}

TEST_F(DownloadTest, AFileAnsweredWithAnErrorStatusIsNotSaved) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    mapservice::StatusFault status;
    status.status = 404;
    config.statusFaults["File"] = status;
    Start();
    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    EXPECT_EQ(Run(&job), Notice(kNotifyDownloadFailed, kTransferFailed));
    EXPECT_FALSE(fs::exists(Downloaded(SetFiles()[0])));
}

TEST_F(DownloadTest, AUrlLeavingTheDownloadFolderIsRefusedBeforeItIsFetched) {
    Start();
    DownloadFolderCreate("2026041");
    DOWNLOAD_JOB job;
    job.start.unified_map_ver_gen = "2026041";
    job.entries = {{BaseUrl() + "/map-dl/data/CONF/../../../escaped.dat", "00", 0},
                   {BaseUrl() + "/map-dl/LINETEST.DAT", "00", 0}};
    EXPECT_EQ(Run(&job), Notice(kNotifyDownloadFailed, kTransferFailed));
    EXPECT_FALSE(fs::exists(world.root + "/escaped.dat"));
    EXPECT_EQ(CallLog().find("escaped"), std::string::npos);
}

TEST_F(DownloadTest, AFileLargerThanTheWholeAnnouncedSetIsCutOffAndDeleted) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    Start();
    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    // The set is announced as one MapSize unit; a file may take that and one unit more.
    ASSERT_EQ(job.expectedBytes, 1044480.0);
    std::string first = SetFiles()[0];
    TestWorld::WriteFile(Served(first), std::string(2 * 1044480 + 1, 'x'));

    EXPECT_EQ(Run(&job), Notice(kNotifyDownloadFailed, kTransferFailed));
    EXPECT_FALSE(fs::exists(Downloaded(first)));
    EXPECT_LE(job.downloadedBytes.load(), 2.0 * 1044480);

    TestWorld::WriteFile(Served(first), std::string(2 * 1044480, 'x'));
    RecordingView again;
    platform::SetView(&again);
    ASSERT_EQ(StartDownloadThread(&job), 0);
    // Within the bound the file is fetched whole; only its digest fails now.
    EXPECT_EQ(again.First(), Notice(kNotifyDownloadFailed, kDigestFailed));
    CloseDownloadThread();
    platform::SetView(&view);
    EXPECT_EQ(fs::file_size(Downloaded(first)), 2u * 1044480);
}

// The service announces one unit (1,044,480 bytes) for three files of 800,000: the set may take
// two units on disk, so the third file is refused before its first byte.
TEST_F(DownloadTest, TheFilesTogetherStayWithinTheAnnouncedSet) {
    for (const char* name : {"A.DAT", "B.DAT", "C.DAT"}) ServeFile(name, 800'000);
    config.mapSize = 1;
    Start();
    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    EXPECT_EQ(Run(&job), Notice(kNotifyDownloadFailed, kTransferFailed));
    EXPECT_TRUE(fs::exists(Downloaded("CONF/B.DAT")));
    EXPECT_FALSE(fs::exists(Downloaded("CONF/C.DAT")));
    EXPECT_EQ(job.downloadedBytes.load(), 1'600'000.0);
}

// A part kept from before counts toward the set: 1,000,000 bytes on disk and 500,000 to come do
// not fit the one unit of a set announced as empty, although the rest alone would.
TEST_F(DownloadTest, APartKeptFromBeforeCountsTowardTheSet) {
    ServeFile("BIG.DAT", 1'500'000);
    DropOnce("BIG.DAT", 1'000'000);
    Start();
    DOWNLOAD_JOB first;
    ASSERT_EQ(Prepare(&first), 0);
    ASSERT_EQ(Run(&first), Notice(kNotifyDownloadFailed, kTransferFailed));
    ASSERT_EQ(fs::file_size(Downloaded("CONF/BIG.DAT")), 1'000'000u);
    service.reset();
    config.dropAfter.reset();
    config.mapSize = 0;
    Start();
    DOWNLOAD_JOB second;
    EXPECT_EQ(RunAfterRestart(&second), Notice(kNotifyDownloadFailed, kTransferFailed));
    EXPECT_FALSE(fs::exists(Downloaded("CONF/BIG.DAT")));
}

// The digests are the only check on the files: an https service must name an https description.
TEST_F(DownloadTest, AnHttpsServiceMustNameAnHttpsDescription) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    mapservice::TestCertificates certificates = mapservice::MakeTestCertificates(world.root + "/tls");
    fs::create_directories(world.root + "/program");
    fs::copy_file(certificates.caFile, world.root + "/program/ca-bundle.pem");
    config.httpsPort = 0;
    config.certFile = certificates.certFile;
    config.keyFile = certificates.keyFile;
    config.plainDescription = true;
    Start();
    theApp.ServiceUrl = "https://127.0.0.1:" + std::to_string(service->HttpsPort()) + "/map-dl";
    DOWNLOAD_JOB job;
    EXPECT_EQ(Prepare(&job), kServiceRefused);
    EXPECT_EQ(job.start.conf_file_url.rfind("http://", 0), 0u) << job.start.conf_file_url;
    EXPECT_EQ(CallLog().find("MapData.XML"), std::string::npos);

    // A plain service (the administrator's choice) may name a plain description.
    theApp.ServiceUrl = BaseUrl() + "/map-dl";
    EXPECT_EQ(Prepare(&job), 0);
    EXPECT_EQ(Run(&job), Notice(kNotifyDownloadDone, 0));
}

// Another user of a shared map folder made a download sub-folder a link: nothing is written
// through it.
TEST_F(DownloadTest, NoFileIsWrittenThroughALink) {
    ServeFile("A.DAT", 1000);
    Start();
    DOWNLOAD_JOB job;
    ASSERT_EQ(Prepare(&job), 0);
    fs::create_directories(world.root + "/elsewhere");
    fs::remove(world.root + "/maps/2026041/CONF");
    fs::create_directory_symlink(world.root + "/elsewhere", world.root + "/maps/2026041/CONF");
    EXPECT_EQ(Run(&job), Notice(kNotifyDownloadFailed, kLocalFileOpenFailed));
    EXPECT_TRUE(fs::is_empty(world.root + "/elsewhere"));
    // A planted file link is refused too.
    fs::remove(world.root + "/maps/2026041/CONF");
    fs::create_directories(world.root + "/maps/2026041/CONF");
    fs::create_symlink(world.root + "/elsewhere/target", Downloaded("CONF/A.DAT"));
    EXPECT_EQ(DownloadFile(&job, job.entries[0].url, world.Win(world.root + "/maps/2026041")), kLocalFileOpenFailed);
    EXPECT_FALSE(fs::exists(world.root + "/elsewhere/target"));
}

namespace {

std::string Entry(const std::string& url, const std::string& hash) {
    return "<MapData><url>" + url + "</url><HashCode>" + hash + "</HashCode></MapData>";
}

}  // namespace

TEST(MapDescriptionTest, EachEntryStartsEmpty) {
    std::vector<MAP_DATA> entries;
    std::string description;
    ASSERT_EQ(ReadMapDescription("<Map><MapSize>1</MapSize>" + Entry("http://h/CONF/A.DAT", "aa") +
                                     "<MapData><HashCode>bb</HashCode></MapData><TestMapData></TestMapData></Map>",
                                 &entries, &description),
              0);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].url, "http://h/CONF/A.DAT");
    EXPECT_EQ(entries[1].url, "");
    EXPECT_EQ(entries[1].HashCode, "bb");
    EXPECT_EQ(entries[2].url, "");
    EXPECT_EQ(entries[2].HashCode, "");
}

TEST(MapDescriptionTest, OverLongFieldsAndTooManyEntriesAreRefused) {
    std::vector<MAP_DATA> entries;
    std::string description;
    const std::string longest = "http://h/CONF/" + std::string(2048 - 14, 'a');
    ASSERT_EQ(ReadMapDescription("<Map>" + Entry(longest, "aa") + "</Map>", &entries, &description), 0);
    EXPECT_EQ(entries.at(0).url, longest);

    entries.clear();
    EXPECT_EQ(ReadMapDescription("<Map>" + Entry(longest + "a", "aa") + "</Map>", &entries, &description),
              kTransferFailed);
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(ReadMapDescription("<Map>" + Entry("u", std::string(2049, 'f')) + "</Map>", &entries, &description), 406);
    EXPECT_TRUE(entries.empty());

    // A long url followed by empty entries: once copied into each of them.
    std::string many = "<Map>" + Entry(longest, "aa");
    for (int i = 1; i < 10000; ++i) many += "<MapData></MapData>";
    ASSERT_EQ(ReadMapDescription(many + "</Map>", &entries, &description), 0);
    EXPECT_EQ(entries.size(), 10000u);
    EXPECT_EQ(entries.back().url, "");
    entries.clear();
    EXPECT_EQ(ReadMapDescription(many + "<TestMapData></TestMapData></Map>", &entries, &description), kTransferFailed);
    EXPECT_TRUE(entries.empty());
}

TEST(LocalRelativePathTest, FollowsTheKnownFoldersAndRefusesEscapes) {
    EXPECT_EQ(LocalRelativePath("http://h/map-dl/data/FLASH2/A.BIN"), "FLASH2\\A.BIN");
    EXPECT_EQ(LocalRelativePath("http://h/X/FLASH/RENEWAL/B.BIN"), "FLASH\\RENEWAL\\B.BIN");
    EXPECT_EQ(LocalRelativePath("http://h/X/RENEWAL/B.BIN"), "RENEWAL\\B.BIN");
    EXPECT_EQ(LocalRelativePath("http://h/misc/C.BIN"), "C.BIN");
    // "ソフト" in CP932: "ソ" ends in 0x5C, a character of the name, not a separator.
    EXPECT_EQ(LocalRelativePath("http://h/X/FLASH2/\x83\x5C\x83\x74\x83\x67.BIN"),
              "FLASH2\\\x83\x5C\x83\x74\x83\x67.BIN");
    for (const char* url : {"http://h/CONF/../x.bin", "http://h/FLASH2//etc/x", "http://h/misc/C:x.bin",
                            "http://h/misc/", "http://h/CONF/a/..", "http://h/x/FLASH/COM1", "http://h/CONF/nul.dat",
                            "http://h/FLASH2/A.BIN.", "http://h/FLASH2/A*.BIN"})
        EXPECT_EQ(LocalRelativePath(url), std::nullopt) << url;
}

class VersionNameTest : public DownloadTest, public ::testing::WithParamInterface<mapservice::Offer> {};

TEST_P(VersionNameTest, AnUnusableVersionNameRefusesTheStart) {
    mkupdate::BuildUpdateSet(config.updateSet, {});
    config.offer = GetParam();
    Start();
    DOWNLOAD_JOB job;
    DOWNLOAD_START_REQUEST request{"VT-01"};
    ASSERT_EQ(CExternalInterface().DownloadStartRequest(&request, &job.start), 0);
    EXPECT_EQ(VersionName(job.start), std::nullopt);
    EXPECT_EQ(CExternalInterface().GetDownloadConfing(&job, 1), kServiceRefused);
    // Neither fetched nor saved anywhere, not even beside or above the map folder.
    EXPECT_EQ(CallLog().find("MapData.XML"), std::string::npos);
    for (const auto& entry : fs::recursive_directory_iterator(world.root))
        EXPECT_NE(entry.path().filename(), "MapData.XML") << entry.path();
    EXPECT_TRUE(fs::is_empty(world.root + "/maps"));
    EXPECT_TRUE(job.entries.empty());
}

TEST(VersionNameJoin, TheThreeVersionPartsJoinedMakeTheFolderName) {
    DOWNLOAD_START_RESPONSE start;
    start.unified_map_ver_gen = "2026";
    start.unified_map_ver_major = "04";
    start.unified_map_ver_minor = "11";
    EXPECT_EQ(VersionName(start), "20260411");
    start.unified_map_ver_minor = "1\\..";
    EXPECT_EQ(VersionName(start), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Names, VersionNameTest,
                         ::testing::Values(mapservice::Offer{"", "", "", "x"}, mapservice::Offer{"..", "", "", "x"},
                                           mapservice::Offer{"2026", "/..", "", "x"},
                                           mapservice::Offer{"C:", "04", "1", "x"},
                                           mapservice::Offer{"CO", "M", "1", "x"},
                                           mapservice::Offer{"2026", "04", "1 ", "x"}));

// A tick count that jumps once, by a fixed amount, after it was first read.
class JumpingClock : public platform::FakeClock {
public:
    explicit JumpingClock(uint64_t jump) : FakeClock(2026, 12, 6), jump_(jump) {}
    uint64_t TickMilliseconds() override { return reads_++ == 0 ? 0 : jump_; }

private:
    uint64_t jump_;
    int reads_ = 0;
};

class LineSpeedTestCase : public DownloadTest {
protected:
    // The test takes `milliseconds` in all.
    int Measure(size_t lineTestBytes, uint64_t milliseconds) {
        JumpingClock clock(milliseconds);
        return MeasureOn(lineTestBytes, clock);
    }
    int MeasureOn(size_t lineTestBytes, platform::Clock& clock) {
        mkupdate::BuildUpdateSet(config.updateSet, {});
        config.lineTestBytes = lineTestBytes;
        Start();
        EXPECT_EQ(Prepare(&job), 0);
        return LineSpeedTest(&job, clock);
    }
    DOWNLOAD_JOB job;
};

TEST_F(LineSpeedTestCase, ASlowLineAsksWithAnEstimate) {
    theApp.Messages.EstimatedMinutes = -1;
    EXPECT_EQ(Measure(1000000, 12500), kSlowLine);
    EXPECT_EQ(job.measuredBytes.load(), 1000000);
    EXPECT_EQ(job.measuredMilliseconds.load(), 12500);
    // One MapSize unit, 1,044,480 bytes, at 83,333 bytes a second: 12 seconds, no whole minute.
    EXPECT_EQ(theApp.Messages.EstimatedMinutes.load(), 0);
}

TEST_F(LineSpeedTestCase, TheEstimateCountsWholeMinutesAtTheMeasuredRate) {
    theApp.Messages.EstimatedMinutes = -1;
    // 5,000 bytes a second: 1,044,480 / 5,000 = 208 seconds, three whole minutes.
    EXPECT_EQ(Measure(100000, 20000), kSlowLine);
    EXPECT_EQ(theApp.Messages.EstimatedMinutes.load(), 3);
}

TEST_F(LineSpeedTestCase, FewerBytesThanSecondsGiveALargeEstimate) {
    EXPECT_EQ(Measure(10, 20000), kSlowLine);
    // The set is one MapSize unit of 1,044,480 bytes, at one byte a second.
    EXPECT_EQ(theApp.Messages.EstimatedMinutes.load(), 1044480 / 60);
}

TEST_F(LineSpeedTestCase, AnEndlessTestEntryIsMeasuredOnItsFirstEightMiB) {
    EXPECT_EQ(Measure(8 * 1048576 + 5000, 1000), 0);
    EXPECT_EQ(job.measuredBytes.load(), 8 * 1048576);
}

TEST_F(LineSpeedTestCase, ATricklingTestEntryIsMeasuredOnItsFirstMinute) {
    // Each read of the clock is one more second: the minute is up after 60 pieces.
    SteppingClock clock(1000);
    EXPECT_EQ(MeasureOn(1000000, clock), kSlowLine);
    EXPECT_EQ(job.measuredMilliseconds.load(), 60000);
    EXPECT_LE(job.measuredBytes.load(), 60 * 2000);
    EXPECT_GT(job.measuredBytes.load(), 0);
}

TEST_F(LineSpeedTestCase, AFastLineGoesOn) {
    EXPECT_EQ(Measure(1000000, 900), 0);
    EXPECT_EQ(job.measuredMilliseconds.load(), 900);
}
