// The map data assembly: the volume and master data files unpacked, the split pieces unpacked
// and joined at their offsets, under control data the input makes. Each delivered file is a
// gzip stream of the input's bytes, those bytes as they are, a stream cut short, or a stream of
// zeros far larger than its few bytes, and its CRC is listed right or wrong. Whatever happens,
// the delivered files stay as they were, no intermediate is left and no product outgrows the
// image; where the harness knows every file's content, the outcome and products are checked
// against a model of the bound and the join.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "FuzzWorld.h"
#include "update/ControlFiles.h"
#include "update/Crc16.h"
#include "update/MapData.h"

namespace fs = std::filesystem;

namespace {

std::string Gzip(const std::string& data, int level) {
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) abort();
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FINISH) != Z_STREAM_END) abort();
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// One delivered file: what goes into the folder, and what it unpacks to when the harness knows.
struct Delivery {
    std::string stored;
    std::optional<std::string> unpacked;
    bool crcRight = true;
};

Delivery Make(Input& input, bool compressed) {
    const uint8_t mode = input.Byte();
    std::string data = input.Bytes(input.Byte());
    Delivery delivery;
    delivery.crcRight = !(mode & 0x80);
    if (!compressed) {
        delivery.stored = data;
        delivery.unpacked = data;
        return delivery;
    }
    switch (mode & 3) {
    case 0:
        delivery.stored = Gzip(data, 1 + (mode >> 2) % 9);
        delivery.unpacked = data;
        break;
    case 1: delivery.stored = data; break;
    case 2:
        delivery.stored = Gzip(data, 6);
        delivery.stored.resize(delivery.stored.size() - std::min<size_t>(delivery.stored.size(), 1 + data.size() % 16));
        break;
    default:
        // Up to 1 MiB of zeros in about 1 KiB.
        data.assign(4096 * (data.size() + 1), '\0');
        delivery.stored = Gzip(data, 9);
        delivery.unpacked = data;
        break;
    }
    return delivery;
}

void PutLe(unsigned char* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint16_t Crc(const std::string& bytes) {
    return Crc16(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

CONFIG_FILE_DIVISION_DATA Item(const Delivery& delivery, bool compressed, int32_t offset) {
    CONFIG_FILE_DIVISION_DATA item;
    item.dataSize = static_cast<uint32_t>(delivery.stored.size());
    item.crc = static_cast<uint16_t>(Crc(delivery.stored) ^ (delivery.crcRight ? 0 : 1));
    item.flags = compressed ? kCompressedFlag : 0;
    item.writeOffset = offset;
    return item;
}

std::map<std::string, std::string> Files(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().lexically_relative(folder).generic_string()] = {std::istreambuf_iterator<char>(in), {}};
    }
    return files;
}

bool Made(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    return name.starts_with("NEW") || name.starts_with("DECOMP");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWorld& world = FuzzWorld::Get();
    const fs::path set = world.root / "maps" / "set";
    fs::remove_all(set);
    Input input(data, size);

    ConfigData config;
    const uint64_t bound = uint64_t{input.Word()} * 4;
    PutLe(config.conf6000.header + 8, static_cast<uint32_t>(bound));
    const uint8_t kinds = input.Byte();
    const bool volumeCompressed = kinds & 1, releaseCompressed = kinds & 2, piecesCompressed = kinds & 4;

    const Delivery volume = Make(input, volumeCompressed);
    const Delivery release = Make(input, releaseCompressed);
    const int count = input.Byte() % 5;
    std::vector<Delivery> pieces;
    std::vector<int32_t> offsets;
    for (int k = 0; k < count; ++k) {
        offsets.push_back(static_cast<int16_t>(input.Word()));
        pieces.push_back(Make(input, piecesCompressed));
    }

    FuzzWorld::Put(set / "FLASH", "VOLUME.DAT.000", volume.stored);
    FuzzWorld::Put(set / "FLASH", "RELEASE.TXT.000", release.stored);
    fs::create_directories(set / "FLASH" / "RENEWAL");
    config.conf1001.slots[0].items.push_back(Item(volume, volumeCompressed, 0));
    config.conf2000.slots[0].items.push_back(Item(release, releaseCompressed, 0));
    PutLe(config.conf2000.slots[1].record + 268, static_cast<uint32_t>(count));
    for (int k = 0; k < count; ++k) {
        char name[32];
        snprintf(name, sizeof name, "LPA080.DAT.%03d", k);
        FuzzWorld::Put(set / "FLASH" / "RENEWAL", name, pieces[k].stored);
        config.conf2000.slots[1].items.push_back(Item(pieces[k], piecesCompressed, offsets[k]));
    }
    const std::map<std::string, std::string> delivered = Files(set);

    const int volumeResult = Conf1001CrcCheck(config, "set");
    const int releaseResult = Conf2000CrcCheck(config, "set");

    // The delivered files as they were; of what the steps made, only the products remain, and
    // none is larger than the image.
    std::map<std::string, std::string> after = Files(set);
    std::map<std::string, std::string> products;
    for (auto it = after.begin(); it != after.end();) {
        if (!Made(it->first)) {
            ++it;
            continue;
        }
        const std::map<std::string, bool> unpackedProducts = {{"FLASH/NEWVOLUME.DAT", volumeCompressed},
                                                              {"FLASH/NEWRELEASE.TXT", releaseCompressed},
                                                              {"FLASH/RENEWAL/NEWLPA080.DAT", piecesCompressed}};
        auto product = unpackedProducts.find(it->first);
        if (product == unpackedProducts.end()) abort();
        if (product->second && it->second.size() > bound) abort();
        products.insert(*it);
        it = after.erase(it);
    }
    if (after != delivered) abort();

    // The model, where every file's content is known.
    auto fits = [&](const Delivery& d, bool compressed) { return !compressed || d.unpacked->size() <= bound; };
    if (volume.unpacked && volume.crcRight) {
        const bool ok = fits(volume, volumeCompressed);
        if (volumeResult != (ok ? 0 : 807)) abort();
        if (ok != products.contains("FLASH/NEWVOLUME.DAT")) abort();
        if (ok && products["FLASH/NEWVOLUME.DAT"] != *volume.unpacked) abort();
    }
    if (!release.unpacked || !release.crcRight) return 0;
    if (!fits(release, releaseCompressed)) {
        if (releaseResult != 807 || products.contains("FLASH/NEWRELEASE.TXT")) abort();
        return 0;
    }
    if (products["FLASH/NEWRELEASE.TXT"] != *release.unpacked) abort();
    // Item 0 says whether the set is compressed: a record without items is refused.
    if (count == 0) {
        if (releaseResult != 804 || products.contains("FLASH/RENEWAL/NEWLPA080.DAT")) abort();
        return 0;
    }
    for (const Delivery& piece : pieces)
        if (!piece.unpacked || !piece.crcRight) return 0;
    if (piecesCompressed) {
        uint64_t total = 0;
        bool ok = true;
        for (int k = 0; k < count; ++k) {
            const uint64_t length = pieces[k].unpacked->size();
            const uint64_t offset = static_cast<uint64_t>(std::max(offsets[k], 0));
            total += length;
            // An empty piece writes nothing, wherever it is placed.
            ok = ok && (length == 0 || offset + length <= bound) && total <= bound;
        }
        if (!ok) {
            if (releaseResult != 807 || products.contains("FLASH/RENEWAL/NEWLPA080.DAT")) abort();
            return 0;
        }
    }
    if (std::any_of(offsets.begin(), offsets.end(), [](int32_t offset) { return offset < 0; })) {
        if (releaseResult != 804) abort();
        return 0;
    }
    std::string joined;
    for (int k = 0; k < count; ++k) {
        const std::string& bytes = *pieces[k].unpacked;
        if (bytes.empty()) continue;
        const size_t end = static_cast<size_t>(offsets[k]) + bytes.size();
        if (joined.size() < end) joined.resize(end, '\0');
        joined.replace(static_cast<size_t>(offsets[k]), bytes.size(), bytes);
    }
    if (releaseResult != 0 || products["FLASH/RENEWAL/NEWLPA080.DAT"] != joined) abort();
    return 0;
}
