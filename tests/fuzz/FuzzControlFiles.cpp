// The update's control files: CONFCRC.DAT naming the CONF files, each deciphered, CRC-checked
// and parsed; and the record parser on any bytes. The input says which files exist, their
// plaintexts and whether their CRC is right, so the parsers are reached past the checks.
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
#include "common/FileUtil.h"
#include "update/ControlFiles.h"
#include "update/Crc16.h"

namespace {

void PutLe(std::string& bytes, size_t offset, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

void CheckParsed(const ConfigData& data) {
    for (const CONFIG_FILE_AREA* area : {&data.conf1001, &data.conf2000, &data.conf6000})
        for (const CONFIG_RECORD_SLOT& slot : area->slots)
            if (slot.items.size() > static_cast<size_t>(std::max(ItemCount(slot), 0))) abort();
    if (!ImageBaseName.empty() && !IsPlainName(ImageBaseName)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWorld& world = FuzzWorld::Get();
    theApp.pDecodeEx = &DecodeEx;
    Input input(data, size);

    // The record parser alone, on the raw bytes.
    {
        CONFIG_FILE_AREA area;
        ImageBaseName.clear();
        // Any result will do: the parser must only stay inside the input.
        (void)ConfRecordParse(area, data, size, size % 2 == 0);
    }

    const char* const names[] = {"CONF1001.DAT", "CONF2000.DAT", "CONF6000.DAT", "CONFLIST.DAT"};
    const std::filesystem::path conf = world.root / "maps" / "set" / "CONF";
    std::filesystem::remove_all(conf);
    std::string confCrc(kConfCrcSize, '\0');
    const int count = input.Byte() % 6;
    PutLe(confCrc, 0, static_cast<uint32_t>(count), 4);
    for (int i = 0; i < count && 4 + 20 * (i + 1) <= static_cast<int>(kConfCrcSize); ++i) {
        const uint8_t choice = input.Byte();
        std::string name = (choice & 0x7F) < 4 ? names[choice & 0x7F] : input.Bytes(12);
        const size_t length = input.Byte() | (input.Byte() << 8);
        std::string plaintext = input.Bytes(length);
        if (plaintext.size() < 8) plaintext.resize(8);
        const auto* plain = reinterpret_cast<const unsigned char*>(plaintext.data());
        uint16_t crc = (choice & 0x80) ? static_cast<uint16_t>(input.Byte()) : Crc16(plain, plaintext.size());
        PutLe(confCrc, 4 + 20 * i, crc, 2);
        memcpy(confCrc.data() + 4 + 20 * i + 8, name.data(), std::min<size_t>(name.size(), 12));
        if (!IsPlainName(std::string(name.c_str()))) continue;
        std::vector<unsigned char> file =
            veltrane::decode::EncipherEx({plain, plaintext.size()}, {1, 2, 3, 4, 5, 6, 7, 8});
        FuzzWorld::Put(conf, name.c_str(), {reinterpret_cast<const char*>(file.data()), file.size()});
    }
    FuzzWorld::Put(conf, "CONFCRC.DAT", confCrc);

    ConfigData config;
    ImageBaseName.clear();
    if (ConfCrcRead(config, "set") == 0 && ConfFileDecode(config, "set") == 0) CheckParsed(config);
    return 0;
}
