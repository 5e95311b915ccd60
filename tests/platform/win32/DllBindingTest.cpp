// Both libraries bound by name through LoadLibraryA and GetProcAddress, as the program binds
// them: the program folder first, exact undecorated names, __stdcall.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "DecodeApi.h"
#include "Sha512Api.h"
#include "platform/Error.h"
#include "platform/Library.h"

using namespace platform;

namespace {

template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
    FARPROC address = GetProcAddress(module, name);
    EXPECT_NE(address, nullptr) << name;
    return reinterpret_cast<Fn>(address);
}

TEST(DllBinding, DecodeDeciphersInPlaceThroughBothExports) {
    HMODULE decode = LoadLibraryA("Decode.dll");
    ASSERT_NE(decode, nullptr) << GetLastError();
    auto decodeFn = Bind<DecodeFn>(decode, "Decode");
    auto decodeExFn = Bind<DecodeExFn>(decode, "DecodeEx");
    ASSERT_TRUE(decodeFn && decodeExFn);

    // An IV of 00..07, two blocks 08..17; key material 20..2F and 30..3F.
    unsigned char keyA[16], keyB[16], buffer[24];
    for (int i = 0; i < 16; ++i) {
        keyA[i] = static_cast<unsigned char>(0x20 + i);
        keyB[i] = static_cast<unsigned char>(0x30 + i);
    }
    for (int i = 0; i < 24; ++i) buffer[i] = static_cast<unsigned char>(i);
    const unsigned char expected[24] = {0x51, 0x38, 0x7D, 0x88, 0xFC, 0xAE, 0xF9, 0x01, 0x16, 0xF5, 0x52, 0x19,
                                        0xB0, 0x6B, 0x7D, 0x6C, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    EXPECT_EQ(decodeFn(buffer, keyA, keyB, sizeof buffer), 0);
    EXPECT_EQ(0, std::memcmp(buffer, expected, sizeof buffer));

    for (int i = 0; i < 24; ++i) buffer[i] = static_cast<unsigned char>(i);
    const unsigned char expectedEx[16] = {0x32, 0xF0, 0x32, 0x2B, 0xAE, 0x83, 0x0D, 0xCF,
                                          0xD5, 0x12, 0x95, 0x59, 0xAB, 0xC8, 0xE1, 0x4B};
    EXPECT_EQ(decodeExFn(buffer, sizeof buffer), 0);
    EXPECT_EQ(0, std::memcmp(buffer, expectedEx, sizeof expectedEx));

    EXPECT_EQ(GetProcAddress(decode, "_Decode@16"), nullptr) << "names are undecorated";
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(decode));
}

TEST(DllBinding, Sha512HashesThroughItsEightExports) {
    HMODULE sha512 = LoadLibraryA("sha512.dll");
    ASSERT_NE(sha512, nullptr) << GetLastError();
    auto create = Bind<CreateAlgorithmFn>(sha512, "CreateAlgorithm");
    auto destroy = Bind<DestroyAlgorithmFn>(sha512, "DestroyAlgorithm");
    auto init = Bind<InitAlgorithmFn>(sha512, "InitAlgorithm");
    auto input = Bind<InputDataFn>(sha512, "InputData");
    auto hashLength = Bind<GetHashLengthFn>(sha512, "GetHashLength");
    auto hash = Bind<GetHashFn>(sha512, "GetHash");
    auto textLength = Bind<GetHashTextLengthFn>(sha512, "GetHashTextLength");
    auto text = Bind<GetHashTextFn>(sha512, "GetHashText");
    ASSERT_TRUE(create && destroy && init && input && hashLength && hash && textLength && text);

    void* handle = create();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(input(handle, reinterpret_cast<const unsigned char*>("xyz"), 3), 0);
    EXPECT_EQ(init(handle), 0);
    EXPECT_EQ(input(handle, reinterpret_cast<const unsigned char*>("abc"), 3), 0);
    EXPECT_EQ(hashLength(handle), 64);
    EXPECT_EQ(textLength(handle), 128);
    char digest[129];
    ASSERT_EQ(text(handle, digest, sizeof digest), 0);
    EXPECT_STREQ(digest,
                 "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
                 "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    // The binary form: each 64-bit word least significant byte first.
    unsigned char binary[64];
    ASSERT_EQ(hash(handle, binary, sizeof binary), 0);
    const unsigned char firstWord[8] = {0xBA, 0x7A, 0x61, 0x93, 0xA1, 0x35, 0xAF, 0xDD};
    EXPECT_EQ(0, std::memcmp(binary, firstWord, 8));
    EXPECT_EQ(destroy(handle), 0);
    EXPECT_EQ(destroy(nullptr), 1);
    EXPECT_TRUE(FreeLibrary(sha512));
}

TEST(DllBinding, AMissingLibraryOrNameFailsWithTheSystemsErrors) {
    EXPECT_EQ(LoadLibraryA("NoSuchLibrary.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "Decode"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
