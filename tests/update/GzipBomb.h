// A gzip stream of zeros made with zlib: a few KiB that unpack to as much as asked for.
#pragma once

#include <zlib.h>

#include <stdexcept>
#include <string>

inline std::string GzipBomb(size_t unpackedBytes) {
    z_stream stream{};
    // Window bits 15 + 16: a gzip header and trailer around the deflate data.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    const std::string zeros(1 << 16, '\0');
    std::string out;
    char chunk[1 << 14];
    for (size_t left = unpackedBytes;;) {
        const size_t take = std::min(left, zeros.size());
        left -= take;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        stream.avail_in = static_cast<uInt>(take);
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int status;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(chunk);
            stream.avail_out = sizeof chunk;
            status = deflate(&stream, flush);
            out.append(chunk, sizeof chunk - stream.avail_out);
        } while (stream.avail_out == 0);
        if (flush == Z_FINISH) {
            deflateEnd(&stream);
            if (status != Z_STREAM_END) throw std::runtime_error("deflate");
            return out;
        }
    }
}
