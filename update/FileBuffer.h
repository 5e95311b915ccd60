// The heap blocks FileRead and FileReadReusing hand out, freed when they go out of scope.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>

#include "common/FileUtil.h"
#include "platform/RawVolume.h"

struct FreeBlock {
    void operator()(unsigned char* block) const { free(block); }
};
using FileBuffer = std::unique_ptr<unsigned char, FreeBlock>;

// FileRead into `buffer`; the block is owned by `buffer` also when the read fails.
inline int FileRead(const std::string& folder, const std::string& name, FileBuffer& buffer, unsigned long* size) {
    unsigned char* block = nullptr;
    int result = FileRead(folder, name, &block, size);
    buffer.reset(block);
    return result;
}

// The reusing reader's block: aligned for raw volume writes (platform::NewRawBuffer).
using PieceBlock = std::unique_ptr<unsigned char, platform::RawBufferDelete>;

// FileReadReusing with the block owned by `buffer`, kept there also when the read fails.
inline int FileReadReusing(const std::string& folder, const std::string& name, PieceBlock& buffer, size_t* capacity,
                           unsigned long* size) {
    unsigned char* block = buffer.release();
    int result = FileReadReusing(folder, name, &block, capacity, size);
    buffer.reset(block);
    return result;
}
