// The unit's identity and version files, which any removable drive can carry: CURRVER.DAT
// (enciphered by the harness, or raw when the input says so), MAP.VER and DEVICE.DAT, read as
// the unit check reads them. What they give must come from the files' own bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "FuzzWorld.h"
#include "decode/DecodeApi.h"
#include "decode/Encipher.h"
#include "device/NaviFunction.h"

namespace {

// Bytes [from, from + count) of `bytes` as the file's content with zeros past its end, up to the
// first NUL.
std::string Field(const std::string& bytes, size_t from, size_t count) {
    std::string field;
    for (size_t i = from; i < from + count && i < bytes.size() && bytes[i] != '\0'; ++i) field += bytes[i];
    return field;
}

bool Ascii(const std::string& text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWorld& world = FuzzWorld::Get();
    theApp.pDecodeEx = &DecodeEx;
    const std::filesystem::path unit = world.root / "unit";
    theApp.Navi.NaviDrive = world.Win(unit) + "\\";
    const std::filesystem::path info = unit / "UPDATE" / "NAVIINFO";
    Input input(data, size);

    const uint8_t mode = input.Byte();
    std::string plain = input.Bytes(input.Byte());
    std::string currver = plain;
    if (!(mode & 1) && plain.size() >= 8) {
        auto bytes = veltrane::decode::EncipherEx({reinterpret_cast<const unsigned char*>(plain.data()), plain.size()},
                                                  {8, 7, 6, 5, 4, 3, 2, 1});
        currver.assign(bytes.begin(), bytes.end());
    }
    FuzzWorld::Put(info, "CURRVER.DAT", currver);
    const std::string mapVer = input.Bytes(input.Byte());
    FuzzWorld::Put(unit / "MAP", "MAP.VER", mapVer);
    const std::string device = input.Rest();
    FuzzWorld::Put(info, "DEVICE.DAT", device);

    // The version: the plaintext's bytes 12-20 up to a NUL, without its dots.
    std::string version = "unset";
    const int read = GetNaviVersion(&version);
    if (currver.size() < 8) {
        if (read != 1 || version != "unset") abort();
    } else {
        if (read != 0 || version.size() > 9 || version.find('\0') != std::string::npos) abort();
        if (!(mode & 1)) {
            std::string expected = Field(plain, 12, 9);
            std::erase(expected, '.');
            if (Ascii(expected) && version != expected) abort();
        }
    }

    std::string versionName;
    if (GetNaviVersionName(&versionName) != 0 || versionName != Field(mapVer, 36, 12)) abort();

    std::string deviceId;
    if (GetDeviceId(&deviceId) != 0 || deviceId != Field(device, 0, device.size())) abort();
    return 0;
}
