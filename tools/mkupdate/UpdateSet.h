// Builds a complete update set into a folder, the way the issuing side does: enciphered control
// files with their CRC list, gzip-compressed volume and master data files, the program update
// data split into compressed pieces with their offsets, and the disk image in pieces whose first
// 5,120 bytes are enciphered.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mkupdate {

// Where a piece of the program update data lies in the joined file.
struct PieceLayout {
    std::int32_t writeOffset = 0;
    std::uint32_t length = 0;
};

// One byte of a written file inverted, to deliver a damaged set.
struct Corruption {
    std::string relativePath;  // "/"-separated, e.g. "CONF/CONF2000.DAT"
    std::uint64_t byteOffset = 0;
};

struct Options {
    std::string version = "2026.0411";    // "YYYY.MMDD"
    std::uint64_t imageSize = 64 * 1024;  // a multiple of 512
    int imagePieces = 4;
    std::filesystem::path imageFile;  // cut this image instead of generating one
    std::string imageBaseName = "VTIMAGE";
    std::uint32_t imagePieceTail = 100;  // filler bytes each image piece file holds past
                                         // its dataSize (in its crc, never written)
    int lpa080Pieces = 3;                // contiguous pieces of lpa080Size bytes in all
    std::uint32_t lpa080Size = 20000;
    std::vector<PieceLayout> lpa080Layout;  // explicit pieces instead of lpa080Pieces
    bool compress = true;
    std::uint32_t seed = 1;
    std::vector<Corruption> corruptions;
};

// The plain data that went into the set.
struct Contents {
    std::string volume;                          // VOLUME.DAT
    std::string release;                         // RELEASE.TXT
    std::vector<std::string> lpa080Pieces;       // each piece before compression
    std::string lpa080;                          // the pieces placed at their offsets
    std::string image;                           // the whole disk image
    std::vector<std::uint32_t> imagePieceSizes;  // each piece's dataSize, without its tail
};

// Writes the set into `folder` (created if missing). Throws std::invalid_argument for options
// that make no valid set and std::runtime_error when a file cannot be written.
Contents BuildUpdateSet(const std::filesystem::path& folder, const Options& options);

// CRC-16/X-25 as the control files carry it.
std::uint16_t Crc16(const std::string& data);

}  // namespace mkupdate
