// The download job against files served by nginx over HTTPS on loopback, in a process of its
// own (the XML calls and the description pass through it to the mapservice), beside curl:
//   reference  curl -s -o <file> per file, each followed by md5sum (a new connection a file);
//   limit      one curl fetching every file to /dev/null over reused connections, plus md5sum
//              of the served files from the page cache: the fastest this machine fetches and
//              hashes the set.
// With a delay, every connection goes through a relay that adds it in each direction (the
// relay holds data, not the TCP handshake, so a new connection is one round trip cheaper than
// on a real line).
// Usage: download_bench [size in MiB, default 512] [delay in ms, default 0] [repetitions, default 3]
//                       [set: mixed (default; files of 1 to 48 MiB) or demo (the demo's: an image of
//                       that size in 100 pieces with the control and map files, over 100 files)]
//                       [no-reuse: every request and file on its own connection and full TLS
//                       handshake, as the program fetched before its session kept them]
// Prints one "sample download-<size>MiB-<delay>ms[-no-reuse] <ours> <reference> <limit>" line
// (seconds) per repetition for bench/run.sh, and a readable summary.
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

#include "Certificates.h"
#include "DelayRelay.h"
#include "MapService.h"
#include "NginxFiles.h"
#include "state/VeltraneApp.h"
#include "tools/mkupdate/UpdateSet.h"
#include "common/FileUtil.h"
#include "net/DownloadJob.h"
#include "platform/posix/ConnectionReuse.h"
#include "net/ExternalInterface.h"
#include "support/DownloadWorld.h"
#include "PeakMemory.h"
#include "support/TestWorld.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct JobRun {
    bool done = false;
    double seconds = 0;
    std::vector<MAP_DATA> entries;
};

// One download as the window starts it: download start, the folder, the description, the job.
JobRun RunDownload(PeakMemory* memory) {
    RecordingView view;
    platform::SetView(&view);
    JobRun run;
    DOWNLOAD_JOB job;
    DOWNLOAD_START_REQUEST request{"VT-01"};
    if (CExternalInterface().DownloadStartRequest(&request, &job.start) != 0) return run;
    std::optional<std::string> version = VersionName(job.start);
    if (!version) return run;
    fs::remove_all(platform::ToNativePath(theApp.MapFolder + "\\" + *version).value_or(""));
    DownloadFolderCreate(*version);
    job.completionRequest.model_group_cd = "VT-01";
    if (CExternalInterface().GetDownloadConfing(&job, 1) != 0) return run;
    if (memory) memory->Start();
    const Clock::time_point started = Clock::now();
    if (StartDownloadThread(&job) != 0) return run;
    RecordingView::Notice notice = view.First(std::chrono::minutes(20));
    const Clock::time_point noticed = view.FirstAt();
    CloseDownloadThread();
    if (memory) memory->Stop();
    platform::SetView(nullptr);
    run.done = notice.first == kNotifyDownloadDone;
    run.seconds = Seconds(noticed - started);
    run.entries = job.entries;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t sizeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
    const int delayMs = argc > 2 ? std::atoi(argv[2]) : 0;
    const int repetitions = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const bool demoSet = argc > 4 && std::string(argv[4]) == "demo";
    const bool reuse = !(argc > 5 && std::string(argv[5]) == "no-reuse");
    platform::SetConnectionReuse(reuse);
    const char* rowSuffix = reuse ? "" : "-no-reuse";
    TestWorld world;
    RecordingView setupView;
    mapservice::ServiceConfig config;
    PrepareDownload(world, setupView, config);
    mapservice::TestCertificates certificates = mapservice::MakeTestCertificates(world.root + "/tls");
    fs::copy_file(certificates.caFile, world.root + "/program/ca-bundle.pem");
    // The mapservice answers the calls over plain HTTP behind nginx; the description names
    // nginx (or the relay in front of it) as the files' host.
    config.httpPort = 0;
    config.httpsPort.reset();
    const uint16_t nginxPort = NginxFiles::FreePort();
    std::unique_ptr<DelayRelay> relay;
    if (delayMs > 0) relay = std::make_unique<DelayRelay>(nginxPort, std::chrono::milliseconds(delayMs));
    const uint16_t port = relay ? relay->Port() : nginxPort;
    config.contentUrl = "https://127.0.0.1:" + std::to_string(port);

    std::printf("building a %llu MiB update set in %s ...\n", static_cast<unsigned long long>(sizeMiB),
                world.root.c_str());
    uint64_t largest = 0;
    uint64_t total = 0;
    if (demoSet) {
        std::mt19937_64 random(20261208);
        const fs::path image = world.root + "/image.bin";
        WriteRandomFile(image, sizeMiB * kMiB, random);
        mkupdate::Options options;
        options.imageFile = image;
        options.imagePieces = 100;
        mkupdate::BuildUpdateSet(config.updateSet, options);
        fs::remove(image);
        for (const auto& entry : fs::recursive_directory_iterator(config.updateSet))
            if (entry.is_regular_file())
                total += entry.file_size(), largest = std::max<uint64_t>(largest, entry.file_size());
    } else {
        total = BuildSet(config.updateSet, sizeMiB * kMiB, &largest);
    }

    auto service = std::make_unique<mapservice::MapService>(config);
    service->Start();
    NginxFiles nginx(nginxPort, world.root + "/nginx", config.updateSet, "/map-dl/data/",
                     static_cast<uint16_t>(service->HttpPort()), certificates.certFile, certificates.keyFile);
    theApp.ServiceUrl = "https://127.0.0.1:" + std::to_string(port) + "/map-dl";
    const std::string curl = "curl -s --cacert " + certificates.caFile.string();

    std::vector<double> ours, references, limits;
    PeakMemory memory(false);
    size_t files = 0, matched = 0;
    for (int r = 0; r < repetitions; ++r) {
        const int acceptedBefore = relay ? relay->Accepted() : 0;
        JobRun run = RunDownload(r == 0 ? &memory : nullptr);
        if (!run.done) return std::puts("download failed"), 1;
        const int connections = relay ? relay->Accepted() - acceptedBefore : -1;

        // The same files with curl, each followed by md5sum, checked against the description.
        fs::path curlFolder = world.root + "/curl";
        fs::remove_all(curlFolder);
        fs::create_directories(curlFolder);
        std::ostringstream script, urls;
        std::vector<std::string> expected;
        for (size_t i = 0; i + 1 < run.entries.size(); ++i) {
            std::string file = (curlFolder / ("F" + std::to_string(i))).string();
            script << curl << " -o " << file << " '" << run.entries[i].url << "' && md5sum " << file << " && ";
            urls << " -o /dev/null '" << run.entries[i].url << "'";
            expected.push_back(run.entries[i].HashCode);
        }
        script << "true";
        Clock::time_point curlStarted = Clock::now();
        std::string sums = Capture(script.str());
        references.push_back(Seconds(Clock::now() - curlStarted));
        std::istringstream lines(sums);
        std::string digest, rest;
        files = expected.size();
        matched = 0;
        for (size_t i = 0; i < expected.size() && lines >> digest >> rest; ++i) matched += digest == expected[i];

        Clock::time_point limitStarted = Clock::now();
        Capture(curl + urls.str() + " && find " + config.updateSet.string() + " -type f -exec md5sum {} + >/dev/null");
        limits.push_back(Seconds(Clock::now() - limitStarted));
        ours.push_back(run.seconds);
        std::printf("sample download-%lluMiB-%dms%s %.3f %.3f %.3f\n", static_cast<unsigned long long>(sizeMiB),
                    delayMs, rowSuffix, ours.back(), references.back(), limits.back());
        if (connections >= 0) std::printf("connections through the relay for the job: %d\n", connections);
        std::fflush(stdout);
    }
    service->Stop();

    const double mib = static_cast<double>(total) / kMiB;
    const double job = Median(ours), reference = Median(references), limit = Median(limits);
    const double budget = static_cast<double>(largest) / kMiB + 64;
    const double peakMiB = static_cast<double>(std::max(memory.HighWaterKiB(), memory.SampledPeakKiB())) / 1024;
    std::printf("\nmedians of %d runs, %d ms added each way %10s %10s %10s\n", repetitions, delayMs, "seconds", "MiB/s",
                "/ limit");
    std::printf("%-40s %10.2f %10.1f %10.2f\n", "download job (fetch + MD5)", job, mib / job, job / limit);
    std::printf("%-40s %10.2f %10.1f %10.2f\n", "curl -o + md5sum, a process a file", reference, mib / reference,
                reference / limit);
    std::printf("%-40s %10.2f %10.1f %10.2f\n", "one curl to /dev/null + md5sum (limit)", limit, mib / limit, 1.0);
    std::printf("\nset: %zu files, %.1f MiB, largest %.1f MiB; curl digests matching: %zu/%zu\n", files, mib,
                static_cast<double>(largest) / kMiB, matched, files);
    std::printf("%-40s %10.1f MiB\n", "RSS before download", static_cast<double>(memory.BeforeKiB()) / 1024);
    std::printf("%-40s %10.1f MiB\n", "peak RSS during download (VmHWM)",
                static_cast<double>(memory.HighWaterKiB()) / 1024);
    std::printf("%-40s %10.1f MiB\n", "peak RSS sampled every 5 ms",
                static_cast<double>(memory.SampledPeakKiB()) / 1024);
    std::printf("%-40s %10.1f MiB  (%s)\n", "budget: largest file + 64 MiB", budget,
                peakMiB <= budget ? "within" : "OVER");
    return matched == files ? 0 : 1;
}
