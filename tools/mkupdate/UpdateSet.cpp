// An update set built file by file: the CONF plaintexts enciphered and listed with their CRCs,
// data files gzip-compressed or split into pieces, and the image cut into sector pieces.
#include "UpdateSet.h"

#include <zlib.h>

#include <fstream>
#include <random>
#include <stdexcept>

#include "Encipher.h"
#include "platform/UnitModel.h"

namespace mkupdate {
namespace fs = std::filesystem;
namespace decode = veltrane::decode;
namespace {

constexpr std::size_t kHeaderSize = 884;
constexpr std::size_t kRecordSize = 272;
constexpr std::size_t kConfListSize = 880;
constexpr std::size_t kImageCipherSize = 5120;
constexpr std::uint16_t kCompressed = 0x8000;
constexpr std::uint64_t kSector = platform::kNaviUnitModel.sectorSize;

struct Item {
    std::uint32_t dataSize = 0;
    std::uint16_t crc = 0;
    std::uint16_t flags = 0;
    std::int32_t writeOffset = 0;
};

struct Record {
    std::string text;  // relative path of the data the record describes
    std::uint16_t imageChecksum = 0;
    std::vector<Item> items;
};

void PutLe(std::string& out, std::size_t offset, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[offset + i] = static_cast<char>(value >> (8 * i) & 0xFF);
}

// The plaintext of a CONF file: the 884-byte header, then each record followed by its items.
std::string ConfFile(const std::string& tag, std::uint32_t totalSize, const std::vector<Record>& records) {
    std::string out(kHeaderSize, '\0');
    out.replace(0, tag.size(), tag);
    PutLe(out, 8, totalSize, 4);
    PutLe(out, 16, records.size(), 4);
    for (const Record& record : records) {
        std::string bytes(kRecordSize, '\0');
        bytes.replace(4, record.text.size(), record.text);
        PutLe(bytes, 264, record.imageChecksum, 2);
        PutLe(bytes, 268, record.items.size(), 4);
        for (const Item& item : record.items) {
            std::string entry(12, '\0');
            PutLe(entry, 0, item.dataSize, 4);
            PutLe(entry, 4, item.crc, 2);
            PutLe(entry, 6, item.flags, 2);
            PutLe(entry, 8, static_cast<std::uint32_t>(item.writeOffset), 4);
            bytes += entry;
        }
        out += bytes;
    }
    return out;
}

// ".000" style piece numbers.
std::string PieceNumber(std::uint64_t k) {
    std::string digits = std::to_string(k);
    return std::string(digits.size() < 3 ? 3 - digits.size() : 0, '0') + digits;
}

std::string Gzip(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("deflate failed");
    return out;
}

class Builder {
public:
    Builder(const fs::path& folder, const Options& options)
        : folder_(folder), options_(options), random_(options.seed) {}

    Contents Build() {
        for (const char* sub : {"CONF", "RENEWAL", "FLASH", "FLASH/RENEWAL", "FLASH2"})
            fs::create_directories(folder_ / sub);
        Contents contents;
        const std::uint16_t flags = options_.compress ? kCompressed : 0;

        contents.volume = "VOLUME" + std::string(10, '\0') + Random(48);
        contents.release = "RELEASE=" + options_.version + "\r\nMASTER=" + RandomDigits(12) + "\r\n";
        const Item volume = Deliver("FLASH/VOLUME.DAT.000", contents.volume, flags, 0);
        const Item release = Deliver("FLASH/RELEASE.TXT.000", contents.release, flags, 0);
        std::vector<Item> lpa080 = BuildLpa080(contents, flags);
        auto [image, imageIv] = BuildImage(contents);

        const std::vector<std::pair<std::string, std::string>> confFiles = {
            {"CONF1001.DAT", ConfFile("CONF1001", 0, {{"FLASH\\VOLUME.DAT", 0, {volume}}})},
            {"CONF2000.DAT",
             ConfFile("CONF2000", 0,
                      {{"FLASH\\RELEASE.TXT", 0, {release}}, {"FLASH\\RENEWAL\\LPA080.DAT", 0, lpa080}})},
            {"CONF6000.DAT", ConfFile("CONF6000", static_cast<std::uint32_t>(contents.image.size()),
                                      {{"FLASH2\\" + options_.imageBaseName, ByteSum(contents.image), image}})},
            {"CONFLIST.DAT", ConfList(imageIv)},
        };
        std::string confCrc(4 + 20 * confFiles.size(), '\0');
        PutLe(confCrc, 0, confFiles.size(), 4);
        for (std::size_t i = 0; i < confFiles.size(); ++i) {
            const auto& [name, plain] = confFiles[i];
            PutLe(confCrc, 4 + 20 * i, Crc16(plain), 2);
            confCrc.replace(12 + 20 * i, name.size(), name);
            Write("CONF/" + name, Enciphered(plain));
        }
        Write("CONF/CONFCRC.DAT", confCrc);
        Write("CONF/AREANAME.TBL", "01,HOKKAIDO\r\n02,TOHOKU\r\n03,KANTO\r\n04,CHUBU\r\n05,KINKI\r\n");
        Write("CONF/MAPLIST.DAT", "MAPLIST " + options_.version + "\r\n" + RandomDigits(32) + "\r\n");

        const std::string diskId = "VT" + RandomDigits(10);
        Write("RENEWAL/VERINFO.DAT", Enciphered(Padded("VERINFO", 12) + options_.version + std::string(11, '\0')));
        Write("DISKID.DAT", Enciphered(Padded("DISKID", 12) + diskId + std::string(8, '\0')));
        Write("DISCINFO.TXT", "VERSION=" + options_.version + "\r\nDISKID=" + diskId + "\r\n");

        for (const Corruption& corruption : options_.corruptions) Corrupt(corruption);
        return contents;
    }

private:
    std::string Random(std::size_t size) {
        std::string out(size, '\0');
        for (char& c : out) c = static_cast<char>(random_() & 0xFF);
        return out;
    }
    std::string RandomDigits(std::size_t size) {
        std::string out(size, '0');
        for (char& c : out) c = static_cast<char>('0' + random_() % 10);
        return out;
    }
    static std::string Padded(const std::string& text, std::size_t size) {
        return text + std::string(size - text.size(), '\0');
    }
    decode::DesBlock RandomIv() {
        decode::DesBlock iv;
        for (auto& b : iv) b = static_cast<unsigned char>(random_() & 0xFF);
        return iv;
    }
    std::string Enciphered(const std::string& plain) {
        auto bytes =
            decode::EncipherEx({reinterpret_cast<const unsigned char*>(plain.data()), plain.size()}, RandomIv());
        return {bytes.begin(), bytes.end()};
    }
    static std::uint16_t ByteSum(const std::string& data) {
        std::uint16_t sum = 0;
        for (unsigned char c : data) sum = static_cast<std::uint16_t>(sum + c);
        return sum;
    }

    void Write(const std::string& relativePath, const std::string& bytes) {
        std::ofstream out(folder_ / relativePath, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) throw std::runtime_error("cannot write " + relativePath);
    }

    // Writes `plain` compressed or as it is, and lists it as an item.
    Item Deliver(const std::string& relativePath, const std::string& plain, std::uint16_t flags,
                 std::int32_t writeOffset) {
        const std::string stored = flags & kCompressed ? Gzip(plain) : plain;
        Write(relativePath, stored);
        return {static_cast<std::uint32_t>(stored.size()), Crc16(stored), flags, writeOffset};
    }

    std::vector<Item> BuildLpa080(Contents& contents, std::uint16_t flags) {
        std::vector<PieceLayout> layout = options_.lpa080Layout;
        if (layout.empty()) {
            if (options_.lpa080Pieces < 1) throw std::invalid_argument("at least one LPA080 piece is needed");
            const std::uint32_t pieces = static_cast<std::uint32_t>(options_.lpa080Pieces);
            const std::uint32_t length = (options_.lpa080Size + pieces - 1) / pieces;
            for (std::uint32_t k = 0, at = 0; k < pieces; ++k, at += length)
                layout.push_back({static_cast<std::int32_t>(at), std::min(length, options_.lpa080Size - at)});
        }
        std::vector<Item> items;
        for (std::size_t k = 0; k < layout.size(); ++k) {
            const PieceLayout& piece = layout[k];
            if (piece.writeOffset < 0) throw std::invalid_argument("negative LPA080 offset");
            std::string data = Random(piece.length);
            const std::size_t end = static_cast<std::size_t>(piece.writeOffset) + data.size();
            if (contents.lpa080.size() < end) contents.lpa080.resize(end, '\0');
            contents.lpa080.replace(static_cast<std::size_t>(piece.writeOffset), data.size(), data);
            items.push_back(Deliver("FLASH/RENEWAL/LPA080.DAT." + PieceNumber(k), data, flags, piece.writeOffset));
            contents.lpa080Pieces.push_back(std::move(data));
        }
        return items;
    }

    std::string ReadImageFile() {
        std::ifstream in(options_.imageFile, std::ios::binary);
        if (!in) throw std::invalid_argument("cannot read " + options_.imageFile.string());
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // The image in pieces of whole sectors; the first 5,120 bytes of piece 0 enciphered, their
    // IV returned for CONFLIST.
    std::pair<std::vector<Item>, decode::DesBlock> BuildImage(Contents& contents) {
        contents.image = options_.imageFile.empty() ? Random(options_.imageSize) : ReadImageFile();
        const std::uint64_t sectors = contents.image.size() / kSector;
        if (contents.image.size() % kSector != 0 || options_.imagePieces < 1)
            throw std::invalid_argument("the image must be whole sectors in at least one piece");
        const std::uint64_t pieceSize = (sectors + options_.imagePieces - 1) / options_.imagePieces * kSector;
        if (std::min<std::uint64_t>(pieceSize, contents.image.size()) < kImageCipherSize)
            throw std::invalid_argument("the first image piece must hold at least 5,120 bytes");

        const decode::DesBlock iv = RandomIv();
        std::vector<Item> items;
        for (std::uint64_t at = 0, k = 0; at < contents.image.size(); at += pieceSize, ++k) {
            std::string piece = contents.image.substr(at, pieceSize);
            if (k == 0) {
                auto block =
                    decode::EncipherEx({reinterpret_cast<const unsigned char*>(piece.data()), kImageCipherSize}, iv);
                piece.replace(0, kImageCipherSize, reinterpret_cast<const char*>(block.data()) + 8, kImageCipherSize);
            }
            const auto dataSize = static_cast<std::uint32_t>(piece.size());
            // The issuing side's pieces may run past the bytes to write; the crc covers the file.
            piece.append(options_.imagePieceTail, static_cast<char>(0xA5 ^ k));
            Write("FLASH2/" + options_.imageBaseName + "." + PieceNumber(k), piece);
            contents.imagePieceSizes.push_back(dataSize);
            items.push_back({dataSize, Crc16(piece), 0, static_cast<std::int32_t>(at)});
        }
        return {items, iv};
    }

    std::string ConfList(const decode::DesBlock& imageIv) {
        std::string out(kConfListSize, '\0');
        out.replace(0, 8, "CONFLIST");
        out.replace(20, imageIv.size(), reinterpret_cast<const char*>(imageIv.data()), imageIv.size());
        const std::string names = "CONF1001.DAT\nCONF2000.DAT\nCONF6000.DAT\n";
        out.replace(32, names.size(), names);
        return out;
    }

    void Corrupt(const Corruption& corruption) {
        std::fstream file(folder_ / corruption.relativePath, std::ios::binary | std::ios::in | std::ios::out);
        char byte = 0;
        file.seekg(static_cast<std::streamoff>(corruption.byteOffset));
        if (!file.get(byte)) throw std::invalid_argument("cannot corrupt " + corruption.relativePath);
        file.seekp(static_cast<std::streamoff>(corruption.byteOffset));
        file.put(static_cast<char>(byte ^ 0xFF));
        if (!file.flush()) throw std::runtime_error("cannot corrupt " + corruption.relativePath);
    }

    fs::path folder_;
    const Options& options_;
    std::mt19937 random_;
};

}  // namespace

std::uint16_t Crc16(const std::string& data) {
    // Bit by bit, independent of the program's table-driven version.
    std::uint16_t crc = 0xFFFF;
    for (unsigned char c : data) {
        crc ^= c;
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<std::uint16_t>(crc & 1 ? (crc >> 1) ^ 0x8408 : crc >> 1);
    }
    return static_cast<std::uint16_t>(~crc);
}

Contents BuildUpdateSet(const fs::path& folder, const Options& options) { return Builder(folder, options).Build(); }

}  // namespace mkupdate
