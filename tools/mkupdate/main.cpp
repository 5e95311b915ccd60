// mkupdate: writes an update set into a folder.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "UpdateSet.h"

namespace {

constexpr char kUsage[] =
    "usage: mkupdate [options] FOLDER\n"
    "Builds a complete update set into FOLDER.\n"
    "  --version YYYY.MMDD     version of the update (default 2026.0411)\n"
    "  --image-size BYTES      size of the generated disk image, whole sectors (default 65536)\n"
    "  --image-pieces N        number of image pieces (default 4)\n"
    "  --image-file PATH       cut this image instead of generating one\n"
    "  --image-name NAME       base name of the image pieces (default VTIMAGE)\n"
    "  --image-tail BYTES      filler each image piece file holds past the bytes it writes\n"
    "                          (default 100)\n"
    "  --lpa080-pieces N       number of program update data pieces (default 3)\n"
    "  --lpa080-size BYTES     size of the program update data (default 20000)\n"
    "  --no-compress           deliver the data files uncompressed\n"
    "  --seed N                seed of the generated data and IVs (default 1)\n"
    "  --corrupt PATH:BYTE     invert one byte of a written file (PATH relative, '/'-separated)\n"
    "  --help                  show this text\n";

unsigned long long Number(const std::string& text) {
    size_t used = 0;
    unsigned long long value = std::stoull(text, &used);
    if (used != text.size()) throw std::invalid_argument("not a number: " + text);
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        mkupdate::Options options;
        std::string folder;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            auto value = [&]() -> std::string {
                if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
                return argv[++i];
            };
            if (arg == "--help") {
                std::fputs(kUsage, stdout);
                return 0;
            } else if (arg == "--version") {
                options.version = value();
            } else if (arg == "--image-size") {
                options.imageSize = Number(value());
            } else if (arg == "--image-pieces") {
                options.imagePieces = static_cast<int>(Number(value()));
            } else if (arg == "--image-file") {
                options.imageFile = value();
            } else if (arg == "--image-name") {
                options.imageBaseName = value();
            } else if (arg == "--image-tail") {
                options.imagePieceTail = static_cast<std::uint32_t>(Number(value()));
            } else if (arg == "--lpa080-pieces") {
                options.lpa080Pieces = static_cast<int>(Number(value()));
            } else if (arg == "--lpa080-size") {
                options.lpa080Size = static_cast<std::uint32_t>(Number(value()));
            } else if (arg == "--no-compress") {
                options.compress = false;
            } else if (arg == "--seed") {
                options.seed = static_cast<std::uint32_t>(Number(value()));
            } else if (arg == "--corrupt") {
                const std::string target = value();
                const size_t colon = target.rfind(':');
                if (colon == std::string::npos) throw std::invalid_argument("--corrupt needs PATH:BYTE");
                options.corruptions.push_back({target.substr(0, colon), Number(target.substr(colon + 1))});
            } else if (!arg.empty() && arg[0] != '-' && folder.empty()) {
                folder = arg;
            } else {
                throw std::invalid_argument("unknown argument " + arg);
            }
        }
        if (folder.empty()) throw std::invalid_argument("no folder given");
        mkupdate::BuildUpdateSet(folder, options);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mkupdate: %s\n%s", e.what(), kUsage);
        return 2;
    }
}
