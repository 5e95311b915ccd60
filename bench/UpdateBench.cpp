// GzipExtract against gzip -dc on the same file, and the CRC-16 beside zlib's crc32.
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "update/Crc16.h"
#include "update/GzipExtract.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kSize = 64u << 20;

// Data that compresses about as well as map data: short runs and repeats of a small alphabet.
std::vector<unsigned char> SampleData() {
    std::vector<unsigned char> data(kSize);
    std::mt19937 random(42);
    for (size_t i = 0; i < data.size();) {
        const size_t run = 1 + random() % 24;
        const unsigned char value = static_cast<unsigned char>(random() % 40);
        for (size_t k = 0; k < run && i < data.size(); ++k) data[i++] = static_cast<unsigned char>(value + k % 3);
    }
    return data;
}

// A gzip file of the sample data in a folder of its own, made once and removed at exit.
struct BenchFolder {
    BenchFolder() {
        char pattern[] = "/tmp/veltrane-bench-XXXXXX";
        path = mkdtemp(pattern);
        const auto data = SampleData();
        gzFile out = gzopen((path + "/data.gz").c_str(), "wb6");
        gzwrite(out, data.data(), static_cast<unsigned>(data.size()));
        gzclose(out);
    }
    ~BenchFolder() { fs::remove_all(path); }
    std::string path;
};

const std::string& GzipFolder() {
    static const BenchFolder folder;
    return folder.path;
}

void GzipExtractFile(benchmark::State& state) {
    const std::string folder = GzipFolder();
    const std::string out = *platform::ToWindowsPath(folder + "/data.out");
    const std::string in = *platform::ToWindowsPath(folder + "/input.gz");
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(folder + "/data.out");
        fs::copy_file(folder + "/data.gz", folder + "/input.gz", fs::copy_options::overwrite_existing);
        state.ResumeTiming();
        if (GzipExtract(out, in, kSize) != 1) state.SkipWithError("GzipExtract failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void GzipDc(benchmark::State& state) {
    const std::string folder = GzipFolder();
    const std::string command = "gzip -dc " + folder + "/data.gz > " + folder + "/gzip.out";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("gzip -dc failed");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

// The bound for GzipExtract: zlib inflating the same file into memory, nothing written.
void ZlibInflateToMemory(benchmark::State& state) {
    const std::string path = GzipFolder() + "/data.gz";
    std::vector<unsigned char> buffer(1 << 20);
    for (auto _ : state) {
        gzFile in = gzopen(path.c_str(), "rb");
        gzbuffer(in, 256 * 1024);
        while (gzread(in, buffer.data(), static_cast<unsigned>(buffer.size())) > 0) benchmark::ClobberMemory();
        gzclose(in);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void Crc16Buffer(benchmark::State& state) {
    const auto data = SampleData();
    for (auto _ : state) benchmark::DoNotOptimize(Crc16(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void ZlibCrc32Buffer(benchmark::State& state) {
    const auto data = SampleData();
    for (auto _ : state) benchmark::DoNotOptimize(crc32_z(0, data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

}  // namespace

BENCHMARK(GzipExtractFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(GzipDc)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ZlibInflateToMemory)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Crc16Buffer)->Unit(benchmark::kMillisecond);
BENCHMARK(ZlibCrc32Buffer)->Unit(benchmark::kMillisecond);
