// A download folder holding an update set built by mkupdate, with the real Decode library bound.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "UpdateSet.h"
#include "state/VeltraneApp.h"
#include "support/BuildFolders.h"
#include "support/TestWorld.h"
#include "update/ControlFiles.h"
#include "update/MapData.h"

class UpdateFixture : public ::testing::Test {
protected:
    void SetUp() override {
        theApp.ResetState();
        static void* library = dlopen((BinFolder() + "/libDecode.so").c_str(), RTLD_NOW);
        ASSERT_NE(library, nullptr) << dlerror();
        theApp.pDecodeEx = reinterpret_cast<DecodeExFn>(dlsym(library, "DecodeEx"));
        std::filesystem::create_directories(world.root + "/maps");
        theApp.MapFolder = world.Win(world.root + "/maps");
    }

    mkupdate::Contents Build(const mkupdate::Options& options = {}) {
        return mkupdate::BuildUpdateSet(Native(), options);
    }
    // The native path of a file of the download ("/"-separated, relative).
    std::string Native(const std::string& relative = "") const {
        return world.root + "/maps/" + id + (relative.empty() ? "" : "/" + relative);
    }
    std::string Read(const std::string& relative) const { return TestWorld::ReadFile(Native(relative)); }
    bool Exists(const std::string& relative) const { return std::filesystem::exists(Native(relative)); }
    std::string Folder(const std::string& sub) const { return DownloadFolderPath(id, sub); }

    // The four control-file steps and the two bulk-data steps, in the transfer's order; the
    // first failure ends them.
    int Prepare() {
        for (auto step : {+[](ConfigData&, const std::string& name) { return VersionFileDecode(name); },
                          +[](ConfigData&, const std::string& name) { return DiskIdFileDecode(name); }, &ConfCrcRead,
                          &ConfFileDecode, &Conf1001CrcCheck, &Conf2000CrcCheck}) {
            if (int result = step(data, id); result != 0) return result;
        }
        return 0;
    }

    // Every file of the download by relative path, with its content.
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Native()))
            if (entry.is_regular_file())
                files[entry.path().lexically_relative(Native()).generic_string()] = TestWorld::ReadFile(entry.path());
        return files;
    }
    // The files as delivered: everything the preparation did not make.
    std::map<std::string, std::string> Delivered() const {
        auto files = Files();
        std::erase_if(files, [](const auto& file) { return IsMade(file.first); });
        return files;
    }
    // Backups, piece copies and unpacked pieces that the preparation makes on its way.
    std::vector<std::string> Intermediates() const {
        static const std::regex intermediate(R"((^|/)(DECOMP[^/]*|NEW[^/]*\.[0-9]{3})$)");
        std::vector<std::string> found;
        for (const auto& [path, content] : Files())
            if (!path.starts_with("FLASH2/") && std::regex_search(path, intermediate)) found.push_back(path);
        return found;
    }
    static bool IsMade(const std::string& path) {
        const std::string name = path.substr(path.rfind('/') + 1);
        return name.starts_with("NEW") || name.starts_with("DECOMP");
    }

    TestWorld world;
    ConfigData data;
    const std::string id = "2026041";
};
