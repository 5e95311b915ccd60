// SHA-512 throughput: through the exports (handle and range checks included), the bare hash core, and OpenSSL.
#include <benchmark/benchmark.h>
#include <openssl/sha.h>

#include <vector>

#include "HashState.h"
#include "Sha512Api.h"

namespace {

std::vector<unsigned char> Message(benchmark::State& state) {
    return std::vector<unsigned char>(static_cast<std::size_t>(state.range(0)), 0xA5);
}

void Sha512Exports(benchmark::State& state) {
    const auto message = Message(state);
    void* handle = CreateAlgorithm();
    unsigned char digest[64];
    for (auto _ : state) {
        InitAlgorithm(handle);
        InputData(handle, message.data(), static_cast<int>(message.size()));
        GetHash(handle, digest, sizeof digest);
        benchmark::DoNotOptimize(digest);
    }
    DestroyAlgorithm(handle);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Sha512Core(benchmark::State& state) {
    const auto message = Message(state);
    veltrane::sha512::HashState hash;
    for (auto _ : state) {
        veltrane::sha512::Init(hash);
        veltrane::sha512::Absorb(hash, message.data(), message.size());
        benchmark::DoNotOptimize(veltrane::sha512::Finish(hash));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void OpenSslSha512(benchmark::State& state) {
    const auto message = Message(state);
    unsigned char digest[64];
    for (auto _ : state) {
        SHA512(message.data(), message.size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(Sha512Exports)->Arg(4 << 10)->Arg(1 << 20);
BENCHMARK(Sha512Core)->Arg(4 << 10)->Arg(1 << 20);
BENCHMARK(OpenSslSha512)->Arg(4 << 10)->Arg(1 << 20);
