// One run of the transfer's image step: a disk image written onto a simulated unit volume on
// this file system, every piece read back and compared, with the program's 50 ms pause per
// piece; then the same image with dd (32 KiB synchronous writes) and cmp, for a throughput and
// peak-memory comparison. Usage: image_write_bench [size in MiB, default 512] [pieces, default 100]
#include <dlfcn.h>
#include <sys/resource.h>

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
#include "jobs/TransferJob.h"
#include "PeakMemory.h"
#include "support/TestWorld.h"
#include "update/ControlFiles.h"
#include "update/MapData.h"

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint32_t kReopenWaitMilliseconds = 5000;

// Real time, real pauses; the wait for the volume after the image is closed is noted, not
// slept, since it is no part of writing or verifying.
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
        if (milliseconds == 50) ++piecePauses;
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    Steady::time_point closedAt{};
    int piecePauses = 0;
};

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
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(std::min(kMiB, bytes - written)));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t sizeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
    const int pieces = argc > 2 ? std::atoi(argv[2]) : 100;
    TestWorld world;
    theApp.ResetState();
    void* decode = dlopen(VELTRANE_BIN_DIR "/libDecode.so", RTLD_NOW);
    if (decode == nullptr) return std::printf("%s\n", dlerror()), 1;
    theApp.pDecodeEx = reinterpret_cast<DecodeExFn>(dlsym(decode, "DecodeEx"));
    fs::create_directories(world.root + "/maps");
    theApp.MapFolder = world.Win(world.root + "/maps");
    const std::string id = "2026041";

    std::printf("building a %llu MiB image in %d pieces and a unit in %s ...\n",
                static_cast<unsigned long long>(sizeMiB), pieces, world.root.c_str());
    const fs::path image = world.root + "/image.bin";
    WriteImage(image, sizeMiB * kMiB);
    std::vector<uint32_t> pieceSizes;
    {
        mkupdate::Options options;
        options.imageFile = image;
        options.imagePieces = pieces;
        pieceSizes = mkupdate::BuildUpdateSet(world.root + "/maps/" + id, options).imagePieceSizes;
    }
    navisim::InitMachine(world.root + "/machine", false);
    navisim::UnitOptions unit;
    unit.imageSize = sizeMiB * kMiB + kMiB;
    navisim::CreateUnit(unit);
    theApp.Navi.NaviDrive = "E:\\";

    TransferJob job;
    job.id = id;
    for (int (*step)(ConfigData&, const std::string&) : {&ConfCrcRead, &ConfFileDecode}) {
        if (step(job.config, id) != 0) return std::puts("the control files were refused"), 1;
    }
    if (DriveOpen(&theApp.Navi.ImagePosition) != 0) return std::puts("the unit's volume did not open"), 1;

    BenchClock clock;
    platform::SetClock(&clock);
    PeakMemory memory;
    const Steady::time_point started = Steady::now();
    const int result = ImageCopy(&job);
    const Steady::time_point ended = clock.closedAt == Steady::time_point{} ? Steady::now() : clock.closedAt;
    memory.Stop();
    platform::SetClock(&world.clock);
    if (result != 0) return std::printf("image step failed: %d\n", result), 1;
    navisim::CheckReport report = navisim::Check("navi", image);
    const double ours = Seconds(ended - started);

    const fs::path ddTarget = world.root + "/dd-volume.img";
    const std::string dd = "dd if=" + image.string() + " of=" + ddTarget.string() +
                           " bs=32k oflag=dsync status=none && cmp " + image.string() + " " + ddTarget.string();
    const Steady::time_point ddStarted = Steady::now();
    const int ddResult = std::system(dd.c_str());
    const double reference = Seconds(Steady::now() - ddStarted);

    const uint32_t largest = *std::max_element(pieceSizes.begin(), pieceSizes.end());
    const double mib = static_cast<double>(sizeMiB);
    const double budget = 2.0 * largest / kMiB + 32;
    const double peakMiB = static_cast<double>(std::max(memory.HighWaterKiB(), memory.SampledPeakKiB())) / 1024;
    std::printf("\n%-44s %10s %10s\n", "", "seconds", "MiB/s");
    std::printf("%-44s %10.2f %10.1f\n", "ImageCopy (write + read back + compare + sum)", ours, mib / ours);
    std::printf("%-44s %10.2f %10.1f\n", "dd bs=32k oflag=dsync + cmp", reference, mib / reference);
    std::printf("%-44s %10.2f   (target >= 0.70)\n", "ratio ours/dd+cmp (throughput)", reference / ours);
    std::printf("\npieces: %zu, largest %u bytes (%.2f MiB); 50 ms pauses taken: %d (%.1f s)\n", pieceSizes.size(),
                largest, static_cast<double>(largest) / kMiB, clock.piecePauses, clock.piecePauses * 0.05);
    std::printf("unit check: image %s, boot signatures %s/%s; dd+cmp %s\n", report.imageMatches ? "equal" : "DIFFERS",
                report.bootSignature0 ? "55 AA" : "cleared", report.bootSignature2560 ? "55 AA" : "cleared",
                ddResult == 0 ? "equal" : "FAILED");
    std::printf("%-44s %10.1f MiB\n", "RSS before the image step", static_cast<double>(memory.BeforeKiB()) / 1024);
    std::printf("%-44s %10.1f MiB\n", "peak RSS during it (VmHWM)", static_cast<double>(memory.HighWaterKiB()) / 1024);
    std::printf("%-44s %10.1f MiB\n", "peak RSS sampled every 5 ms", static_cast<double>(memory.SampledPeakKiB()) / 1024);
    std::printf("%-44s %10.1f MiB  (%s)\n", "budget: 2 x largest piece + 32 MiB", budget,
                peakMiB <= budget ? "within" : "OVER");
    return report.imageMatches && ddResult == 0 ? 0 : 1;
}
