// A world for fuzz targets: a temporary machine whose Z: drive is the native root, and a
// download folder under it, made once per process.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "state/VeltraneApp.h"
#include "platform/Paths.h"
#include "platform/sim/Machine.h"

class FuzzWorld {
public:
    static FuzzWorld& Get() {
        static FuzzWorld world;
        return world;
    }
    // Replaces the file at folder/name (native) with bytes.
    static void Put(const std::filesystem::path& folder, const std::string& name, std::string_view bytes) {
        std::filesystem::create_directories(folder);
        std::ofstream(folder / name, std::ios::binary | std::ios::trunc).write(bytes.data(), bytes.size());
    }
    std::string Win(const std::filesystem::path& native) const { return *platform::ToWindowsPath(native.string()); }

    std::filesystem::path root;

private:
    FuzzWorld() {
        char pattern[] = "/tmp/veltrane-fuzz-XXXXXX";
        root = mkdtemp(pattern);
        std::filesystem::create_directories(root / "machine");
        platform::SetMachineFolder((root / "machine").string());
        platform::ChooseMachine();
        theApp.MapFolder = Win(root / "maps");
    }
};
