// The transfer's image step onto a simulated unit volume on this file system, every piece
// read back and compared, beside two figures for the same bytes on this machine:
//   dd + cmp   dd writing onto an allocated file of the volume's size with the same sync mode
//              (bs=32k conv=notrunc oflag=dsync), then cmp; the unit's volume is such a file;
//   bare loop  pwrite 32 KiB + fdatasync onto the unit's own volume file, nothing else: the
//              fastest this machine writes the image the way the step must.
// The step's 50 ms pause per piece is counted, not slept (the bench clock returns at once), so
// its "work" is the step without the design's pauses; "with pauses" adds them back. Dirty
// pages of the set and the volumes are synced before every timed part.
// Usage: image_write_bench [size in MiB, default 512] [pieces, default 100] [repetitions, default 3]
// Prints one "sample image-<size>MiB <work> <dd+cmp> <bare loop>" line (seconds) per
// repetition for bench/run.sh, and a readable summary.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "NaviSim.h"
#include "UpdateSet.h"
#include "state/VeltraneApp.h"
#include "device/NaviDriveImage.h"
#include "device/TransferRecord.h"
#include "jobs/TransferJob.h"
#include "PeakMemory.h"
#include "support/BuildFolders.h"
#include "support/TestWorld.h"
#include "update/ControlFiles.h"
#include "update/MapData.h"

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint32_t kReopenWaitMilliseconds = 5000;

// Real time; Sleep returns at once and is counted. The wait for the volume after the image is
// closed marks the end: it is no part of writing or verifying.
class BenchClock : public platform::Clock {
public:
    int64_t NowMilliseconds() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    uint64_t TickMilliseconds() override {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now().time_since_epoch()).count());
    }
    void Sleep(uint32_t milliseconds) override {
        if (milliseconds == kReopenWaitMilliseconds) {
            if (closedAt == Steady::time_point{}) closedAt = Steady::now();
            return;
        }
        pausedMilliseconds += milliseconds;
        if (milliseconds == 50) ++piecePauses;
    }
    Steady::time_point closedAt{};
    uint64_t pausedMilliseconds = 0;
    int piecePauses = 0;
};

// CPU seconds of this process so far, user and system.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Writes `bytes` of zeros, so the file is allocated like the unit's volume.
void WriteAllocated(const fs::path& path, uint64_t bytes) {
    std::vector<char> zeros(kMiB, 0);
    std::ofstream out(path, std::ios::binary);
    for (uint64_t written = 0; written < bytes; written += kMiB)
        out.write(zeros.data(), static_cast<std::streamsize>(std::min(kMiB, bytes - written)));
}

// The bare loop: `bytes` from a random block, 32 KiB a write, each followed by fdatasync.
double BareLoop(const fs::path& volume, uint64_t bytes, double* cpu) {
    std::vector<char> block(8 * kMiB);
    std::mt19937_64 random(7);
    for (char& c : block) c = static_cast<char>(random());
    int fd = ::open(volume.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return -1;
    const Steady::time_point started = Steady::now();
    const double cpuBefore = CpuSeconds();
    constexpr uint64_t kWrite = 32 * 1024;
    for (uint64_t at = 0; at < bytes; at += kWrite) {
        if (::pwrite(fd, block.data() + at % block.size(), kWrite, static_cast<off_t>(at)) != kWrite ||
            ::fdatasync(fd) != 0) {
            ::close(fd);
            return -1;
        }
    }
    const double seconds = Seconds(Steady::now() - started);
    *cpu = CpuSeconds() - cpuBefore;
    ::close(fd);
    return seconds;
}

struct StepRun {
    int result = -1;
    double seconds = 0;
    double cpu = 0;
    uint64_t pausedMilliseconds = 0;
    int piecePauses = 0;
};

// One image step from an opened volume, as the transfer runs it.
StepRun RunImageStep(const std::string& id, PeakMemory* memory) {
    TransferJob job;
    job.id = id;
    job.record.instanceId = "USBSTOR\\DISK&VID_2F6A&PID_0C31\\BENCH&0";
    for (int (*step)(ConfigData&, const std::string&) : {&ConfCrcRead, &ConfFileDecode})
        if (step(job.config, id) != 0) return {};
    if (DriveOpen(&theApp.Navi.ImagePosition) != 0) return {};
    BenchClock clock;
    platform::Clock* previous = &platform::CurrentClock();
    platform::SetClock(&clock);
    ::sync();
    if (memory) memory->Start();
    const Steady::time_point started = Steady::now();
    const double cpuBefore = CpuSeconds();
    StepRun run;
    run.result = ImageCopy(&job);
    run.cpu = CpuSeconds() - cpuBefore;
    const Steady::time_point ended = clock.closedAt == Steady::time_point{} ? Steady::now() : clock.closedAt;
    if (memory) memory->Stop();
    platform::SetClock(previous);
    run.seconds = Seconds(ended - started);
    run.pausedMilliseconds = clock.pausedMilliseconds;
    run.piecePauses = clock.piecePauses;
    return run;
}

// One save of the transfer record, which follows every verified piece: its mean time over
// `saves` saves into the map folder.
double RecordSaveSeconds(int saves) {
    TRANSFER_RECORD record;
    record.instanceId = "USBSTOR\\DISK&VID_2F6A&PID_0C31\\BENCH&0";
    record.version = "2026041";
    record.folder = theApp.MapFolder;
    record.pieces = saves;
    const Steady::time_point started = Steady::now();
    for (int i = 0; i < saves; ++i) {
        record.verifiedPieces = i + 1;
        if (TransferRecordSave(record) != 0) return -1;
    }
    const double seconds = Seconds(Steady::now() - started) / saves;
    return TransferRecordClear() == 0 ? seconds : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A volume image with both boot signatures, random otherwise, written a MiB at a time.
void WriteImage(const fs::path& path, uint64_t bytes) {
    std::mt19937_64 random(20261207);
    std::vector<uint64_t> block(kMiB / sizeof(uint64_t));
    std::ofstream out(path, std::ios::binary);
    for (uint64_t written = 0; written < bytes; written += kMiB) {
        for (uint64_t& word : block) word = random();
        if (written == 0) {
            auto* bytesOf = reinterpret_cast<unsigned char*>(block.data());
            for (size_t sector : {0, 2560}) bytesOf[sector + 510] = 0x55, bytesOf[sector + 511] = 0xAA;
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(std::min(kMiB, bytes - written)));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t sizeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
    const int pieces = argc > 2 ? std::atoi(argv[2]) : 100;
    const int repetitions = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    TestWorld world;
    theApp.ResetState();
    void* decode = dlopen((BinFolder() + "/libDecode.so").c_str(), RTLD_NOW);
    if (decode == nullptr) return std::printf("%s\n", dlerror()), 1;
    theApp.pDecodeEx = reinterpret_cast<DecodeExFn>(dlsym(decode, "DecodeEx"));
    fs::create_directories(world.root + "/maps");
    theApp.MapFolder = world.Win(world.root + "/maps");
    const std::string id = "2026041";

    std::printf("building a %llu MiB image in %d pieces and a unit in %s ...\n",
                static_cast<unsigned long long>(sizeMiB), pieces, world.root.c_str());
    const uint64_t bytes = sizeMiB * kMiB;
    const fs::path image = world.root + "/image.bin";
    WriteImage(image, bytes);
    std::vector<uint32_t> pieceSizes;
    {
        mkupdate::Options options;
        options.imageFile = image;
        options.imagePieces = pieces;
        pieceSizes = mkupdate::BuildUpdateSet(world.root + "/maps/" + id, options).imagePieceSizes;
    }
    navisim::InitMachine(world.root + "/machine", false);
    navisim::UnitOptions unit;
    unit.imageSize = bytes + kMiB;
    navisim::CreateUnit(unit);
    theApp.Navi.NaviDrive = "E:\\";
    const fs::path ddTarget = world.root + "/dd-volume.img";
    WriteAllocated(ddTarget, unit.imageSize);
    const std::string dd = "dd if=" + image.string() + " of=" + ddTarget.string() +
                           " bs=32k conv=notrunc oflag=dsync status=none && cmp -n " + std::to_string(bytes) + " " +
                           image.string() + " " + ddTarget.string();
    const fs::path volume = navisim::UnitImage("navi");

    std::vector<double> works, references, limits, workCpu, limitCpu;
    StepRun last;
    bool matches = true;
    PeakMemory memory(false);
    for (int r = 0; r < repetitions; ++r) {
        last = RunImageStep(id, r == 0 ? &memory : nullptr);
        if (last.result != 0) return std::printf("image step failed: %d\n", last.result), 1;
        matches = matches && navisim::Check("navi", image).imageMatches;
        ::sync();
        const Steady::time_point ddStarted = Steady::now();
        const int ddResult = std::system(dd.c_str());
        references.push_back(Seconds(Steady::now() - ddStarted));
        matches = matches && ddResult == 0;
        ::sync();
        limitCpu.push_back(0);
        limits.push_back(BareLoop(volume, bytes, &limitCpu.back()));
        works.push_back(last.seconds);
        workCpu.push_back(last.cpu);
        std::printf("sample image-%lluMiB %.3f %.3f %.3f\n", static_cast<unsigned long long>(sizeMiB), works.back(),
                    references.back(), limits.back());
        std::fflush(stdout);
    }
    platform::SetClock(&world.clock);

    const double work = Median(works), reference = Median(references), limit = Median(limits);
    const double pauses = static_cast<double>(last.pausedMilliseconds) / 1000;
    const double mib = static_cast<double>(sizeMiB);
    const uint32_t largest = *std::max_element(pieceSizes.begin(), pieceSizes.end());
    const double budget = 2.0 * largest / kMiB + 32;
    const double peakMiB = static_cast<double>(std::max(memory.HighWaterKiB(), memory.SampledPeakKiB())) / 1024;
    std::printf("\nmedians of %d runs          %10s %10s %10s\n", repetitions, "seconds", "MiB/s", "/ bare");
    std::printf("%-26s %10.2f %10.1f %10.2f\n", "image step, work", work, mib / work, work / limit);
    std::printf("%-26s %10.2f %10.1f %10.2f\n", "image step, with pauses", work + pauses, mib / (work + pauses),
                (work + pauses) / limit);
    std::printf("%-26s %10.2f %10.1f %10.2f\n", "dd onto allocated + cmp", reference, mib / reference,
                reference / limit);
    std::printf("%-26s %10.2f %10.1f %10.2f\n", "bare pwrite+fdatasync", limit, mib / limit, 1.0);
    std::printf("work / bare loop %.2f (target <= 1.15); work / dd+cmp %.2f\n", work / limit, work / reference);
    std::printf("transfer record: %.2f ms a save, one after each of the %d pieces\n", RecordSaveSeconds(100) * 1000,
                pieces);
    std::printf("CPU seconds (user + system, medians): image step %.2f, bare loop %.2f\n", Median(workCpu),
                Median(limitCpu));
    std::printf("\npieces: %zu, largest %u bytes (%.2f MiB); pauses counted, not slept: %d x 50 ms, %.2f s in all\n",
                pieceSizes.size(), largest, static_cast<double>(largest) / kMiB, last.piecePauses, pauses);
    std::printf("unit and dd target equal to the image after every run: %s\n", matches ? "yes" : "NO");
    std::printf("%-44s %10.1f MiB\n", "RSS before the image step", static_cast<double>(memory.BeforeKiB()) / 1024);
    std::printf("%-44s %10.1f MiB\n", "peak RSS during it (VmHWM)", static_cast<double>(memory.HighWaterKiB()) / 1024);
    std::printf("%-44s %10.1f MiB\n", "peak RSS sampled every 5 ms",
                static_cast<double>(memory.SampledPeakKiB()) / 1024);
    std::printf("%-44s %10.1f MiB  (%s)\n", "budget: 2 x largest piece + 32 MiB", budget,
                peakMiB <= budget ? "within" : "OVER");
    return matches ? 0 : 1;
}
