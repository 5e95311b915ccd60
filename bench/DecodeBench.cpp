// Decode throughput against OpenSSL's DES-CBC decryption, and the fixed cost of a call (key derivation and the
// schedules, one block).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>
#include <openssl/des.h>

#include <vector>

#include "DecodeApi.h"
#include "KeyMaterial.h"

namespace {

void DecodeBuffer(benchmark::State& state) {
    std::vector<unsigned char> buffer(static_cast<std::size_t>(state.range(0)), 0x3C);
    for (auto _ : state) {
        DecodeEx(buffer.data(), static_cast<std::uint32_t>(buffer.size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void OpenSslDesCbcDecrypt(benchmark::State& state) {
    std::vector<unsigned char> buffer(static_cast<std::size_t>(state.range(0)), 0x3C);
    DES_cblock key = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    DES_key_schedule schedule;
    DES_set_key_unchecked(&key, &schedule);
    for (auto _ : state) {
        DES_cblock iv = {};
        DES_ncbc_encrypt(buffer.data(), buffer.data(), static_cast<long>(buffer.size()), &schedule, &iv, DES_DECRYPT);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(DecodeBuffer)->Arg(1 << 20)->Name("Decode")->Arg(5128);
BENCHMARK(OpenSslDesCbcDecrypt)->Arg(1 << 20)->Arg(5128);
BENCHMARK(DecodeBuffer)->Arg(16)->Name("DecodePerCall");
