// One end-to-end run of the download job against the in-process mapservice over loopback,
// then the same files with curl and md5sum, for a throughput and peak-memory comparison.
// Usage: download_bench [size in MiB, default 512]
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MapService.h"
#include "state/VeltraneApp.h"
#include "common/FileUtil.h"
#include "net/DownloadJob.h"
#include "net/ExternalInterface.h"
#include "support/DownloadWorld.h"
#include "PeakMemory.h"
#include "support/TestWorld.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// A status line of /proc/self/status in KiB.
uint64_t MaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<uint64_t>(usage.ru_maxrss);
}

// Random contents written a MiB at a time, so building the set does not itself raise the peak.
void WriteRandomFile(const fs::path& path, uint64_t bytes, std::mt19937_64& random) {
    std::vector<uint64_t> block(kMiB / sizeof(uint64_t));
    std::ofstream out(path, std::ios::binary);
    for (uint64_t written = 0; written < bytes;) {
        for (uint64_t& word : block) word = random();
        uint64_t n = std::min<uint64_t>(kMiB, bytes - written);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
}

// Spreads `total` bytes over the known sub-folders in files of mixed size.
uint64_t BuildSet(const fs::path& set, uint64_t total, uint64_t* largest) {
    std::mt19937_64 random(20261207);
    const char* folders[] = {"CONF", "FLASH/RENEWAL", "FLASH2", "RENEWAL"};
    const uint64_t sizes[] = {48 * kMiB, 8 * kMiB + 12345, 24 * kMiB + 777, 1 * kMiB + 3, 32 * kMiB};
    uint64_t written = 0;
    *largest = 0;
    for (int i = 0; written < total; ++i) {
        fs::path folder = set / folders[i % 4];
        fs::create_directories(folder);
        uint64_t bytes = std::min(sizes[i % 5], total - written);
        char name[32];
        std::snprintf(name, sizeof name, "MAP%03d.BIN", i);
        WriteRandomFile(folder / name, bytes, random);
        written += bytes;
        *largest = std::max(*largest, bytes);
    }
    return written;
}

std::string Capture(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t sizeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
    TestWorld world;
    RecordingView view;
    mapservice::ServiceConfig config;
    PrepareDownload(world, view, config, VELTRANE_BIN_DIR);

    std::printf("building a %llu MiB update set in %s ...\n", static_cast<unsigned long long>(sizeMiB),
                world.root.c_str());
    uint64_t largest = 0;
    uint64_t total = BuildSet(config.updateSet, sizeMiB * kMiB, &largest);

    auto service = std::make_unique<mapservice::MapService>(config);
    service->Start();
    std::string base = "http://127.0.0.1:" + std::to_string(service->HttpPort());
    theApp.ServiceUrl = base + "/map-dl";

    // The window's preparation: download start, the download folder, the description.
    DOWNLOAD_JOB job;
    DOWNLOAD_START_REQUEST request{"VT-01"};
    if (CExternalInterface().DownloadStartRequest(&request, &job.start) != 0) return std::puts("start refused"), 1;
    std::optional<std::string> version = VersionName(job.start);
    if (!version) return std::puts("no version name"), 1;
    DownloadFolderCreate(*version);
    job.completionRequest.model_group_cd = "VT-01";
    if (CExternalInterface().GetDownloadConfing(&job, 1) != 0) return std::puts("description refused"), 1;

    // The peak from here on.
    uint64_t maxRssBefore = MaxRssKiB();
    PeakMemory memory;

    Clock::time_point started = Clock::now();
    if (StartDownloadThread(&job) != 0) return std::puts("thread not started"), 1;
    // A whole 512 MiB run may take minutes on a slow machine.
    RecordingView::Notice notice = view.First(std::chrono::minutes(20));
    Clock::time_point noticed = view.FirstAt();
    CloseDownloadThread();
    memory.Stop();
    uint64_t maxRssAfter = MaxRssKiB();
    double ours = Seconds(noticed - started);
    if (notice.first != kNotifyDownloadDone) {
        std::printf("download failed: notification %ju, %jd\n", static_cast<uintmax_t>(notice.first),
                    static_cast<intmax_t>(notice.second));
        return 1;
    }

    // The same files with curl, each followed by md5sum, checked against the description.
    fs::path curlFolder = world.root + "/curl";
    fs::create_directories(curlFolder);
    std::ostringstream script;
    std::vector<std::string> expected;
    for (size_t i = 0; i + 1 < job.entries.size(); ++i) {
        std::string file = (curlFolder / ("F" + std::to_string(i))).string();
        script << "curl -s -o " << file << " '" << job.entries[i].url << "' && md5sum " << file << " && ";
        expected.push_back(job.entries[i].HashCode);
    }
    script << "true";
    Clock::time_point curlStarted = Clock::now();
    std::string sums = Capture(script.str());
    double curl = Seconds(Clock::now() - curlStarted);
    std::istringstream lines(sums);
    std::string digest, rest;
    size_t matched = 0;
    for (size_t i = 0; i < expected.size() && lines >> digest >> rest; ++i) matched += digest == expected[i];
    service->Stop();

    double mib = static_cast<double>(total) / kMiB;
    double budget = static_cast<double>(largest) / kMiB + 64;
    double peakMiB = static_cast<double>(std::max(memory.HighWaterKiB(), memory.SampledPeakKiB())) / 1024;
    std::printf("\n%-34s %12s %10s\n", "", "seconds", "MiB/s");
    std::printf("%-34s %12.2f %10.1f\n", "download job (fetch + MD5)", ours, mib / ours);
    std::printf("%-34s %12.2f %10.1f\n", "curl -s -o + md5sum", curl, mib / curl);
    std::printf("%-34s %12.2f   (target >= 0.80)\n", "ratio ours/curl (throughput)", curl / ours);
    std::printf("\nset: %zu files, %.1f MiB, largest %.1f MiB; curl digests matching: %zu/%zu\n",
                expected.size(), mib, static_cast<double>(largest) / kMiB, matched, expected.size());
    std::printf("%-34s %12.1f MiB\n", "RSS before download", static_cast<double>(memory.BeforeKiB()) / 1024);
    std::printf("%-34s %12.1f MiB\n", "peak RSS during download (VmHWM)", static_cast<double>(memory.HighWaterKiB()) / 1024);
    std::printf("%-34s %12.1f MiB\n", "peak RSS sampled every 5 ms", static_cast<double>(memory.SampledPeakKiB()) / 1024);
    std::printf("%-34s %12.1f -> %.1f MiB\n", "ru_maxrss before -> after", static_cast<double>(maxRssBefore) / 1024,
                static_cast<double>(maxRssAfter) / 1024);
    std::printf("%-34s %12.1f MiB  (%s)\n", "budget: largest file + 64 MiB", budget,
                peakMiB <= budget ? "within" : "OVER");
    return matched == expected.size() ? 0 : 1;
}
