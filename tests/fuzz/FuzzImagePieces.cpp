// The image pieces checked against CONF6000.DAT's items before the raw write, then written onto a
// simulated unit's volume. The input makes the items (sizes right or wrong, a missing item, CRCs
// and the byte sum right or wrong) and the piece files. A set the checks must refuse leaves the
// volume untouched; any other set leaves exactly the image on it, its boot signatures restored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "FuzzWorld.h"
#include "NaviSim.h"
#include "decode/DecodeApi.h"
#include "decode/Encipher.h"
#include "device/NaviDriveImage.h"
#include "jobs/TransferJob.h"
#include "platform/Clock.h"
#include "platform/RawVolume.h"
#include "update/Crc16.h"

namespace fs = std::filesystem;

namespace {

void PutLe(unsigned char* at, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::string ReadNative(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

constexpr size_t kCipherBytes = 5120;
const veltrane::decode::DesBlock kIv = {9, 8, 7, 6, 5, 4, 3, 2};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWorld& world = FuzzWorld::Get();
    static platform::FakeClock clock(2026, 12, 8);
    static const std::string baseline = [&] {
        navisim::InitMachine(world.root / "machine", false);
        navisim::UnitOptions options;
        options.imageSize = 64 * 1024;
        navisim::CreateUnit(options);
        platform::SetClock(&clock);
        theApp.pDecodeEx = &DecodeEx;
        theApp.Navi.NaviDrive = "E:\\";
        return ReadNative(navisim::UnitImage("navi"));
    }();
    if (platform::HANDLE handle = theApp.Navi.DriveHandle.exchange(nullptr)) (void)platform::CloseHandle(handle);
    FuzzWorld::Put(navisim::UnitImage("navi").parent_path(), navisim::UnitImage("navi").filename().string(), baseline);
    if (DriveOpen(&theApp.Navi.ImagePosition) != 0) abort();

    const fs::path folder = world.root / "maps" / "set" / "FLASH2";
    fs::remove_all(folder);
    fs::create_directories(folder);
    ImageBaseName = "VTIMAGE";
    Input input(data, size);
    TransferJob job;
    job.id = "set";
    CONFIG_RECORD_SLOT& record = job.config.conf6000.slots[0];
    const uint8_t shape = input.Byte();
    const int count = shape % 5;
    bool refused = false;
    std::string image;
    for (int k = 0; k < count; ++k) {
        // Piece 0 of 4,096 to 5,632 bytes: too short to decipher, or long enough.
        const uint8_t layout = input.Byte();
        const size_t sectors = k == 0 ? 8 + layout % 4 : layout % 12;
        const size_t length = sectors * kSectorSize + (layout >> 4) % 3 * 100;
        const uint8_t fill = input.Byte();
        std::string plain(length, '\0');
        for (size_t i = 0; i < length; ++i) plain[i] = static_cast<char>(fill + i * 31 + k);
        std::string stored = plain;
        if (k == 0 && length >= kCipherBytes) {
            auto cipher =
                veltrane::decode::EncipherEx({reinterpret_cast<const unsigned char*>(plain.data()), kCipherBytes}, kIv);
            stored.replace(0, kCipherBytes, reinterpret_cast<const char*>(cipher.data()) + 8, kCipherBytes);
        }
        if (k == 0 && length < kCipherBytes) refused = true;
        char name[32];
        snprintf(name, sizeof name, "VTIMAGE.%03d", k);
        FuzzWorld::Put(folder, name, stored);

        const uint8_t mode = input.Byte();
        uint32_t dataSize = static_cast<uint32_t>(sectors * kSectorSize);
        switch (mode & 3) {
        case 1: dataSize = input.Word(); break;
        case 2: dataSize = static_cast<uint32_t>(length); break;
        case 3: dataSize += kSectorSize; break;
        default: break;
        }
        CONFIG_FILE_DIVISION_DATA item;
        item.dataSize = dataSize;
        item.crc = static_cast<uint16_t>(Crc16(reinterpret_cast<const unsigned char*>(stored.data()), stored.size()) ^
                                         (mode & 0x80 ? 1 : 0));
        refused = refused || dataSize == 0 || dataSize % kSectorSize != 0 || dataSize > length || (mode & 0x80);
        if (!refused) image += plain.substr(0, dataSize);
        if (!(k == count - 1 && (shape & 0x40))) record.items.push_back(item);
    }
    refused = refused || (count > 0 && (shape & 0x40));
    uint16_t sum = 0;
    for (char c : image) sum = static_cast<uint16_t>(sum + static_cast<unsigned char>(c));
    PutLe(record.record + 264, sum ^ (shape & 0x80 ? 1 : 0), 2);
    PutLe(record.record + 268, static_cast<uint32_t>(count), 4);
    PutLe(job.config.conf6000.header + 8, static_cast<uint32_t>(image.size()), 4);
    std::copy(kIv.begin(), kIv.end(), job.config.confList + 20);

    const int result = ImageCopy(&job);
    const std::string volume = ReadNative(navisim::UnitImage("navi"));
    if (refused) {
        if (result == 0 || volume != baseline) abort();
        return 0;
    }
    std::string expected = baseline;
    expected.replace(0, image.size(), image);
    for (size_t at : {510, 2560 + 510}) expected.replace(at, 2, "\x55\xAA");
    if (result != (shape & 0x80 ? 508 : 0) || volume != expected) abort();
    return 0;
}
