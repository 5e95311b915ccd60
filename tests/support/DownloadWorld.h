// What the download tests and the download benchmark share: the application set up for a
// download from a map service serving an update-set folder of the world.
#pragma once

#include <cstdlib>
#include <filesystem>

#include "MapService.h"
#include "state/VeltraneApp.h"
#include "support/BindSha512.h"
#include "support/RecordingView.h"
#include "support/TestWorld.h"

// The application ready to download into <world>/maps from a service (port 0: a free one)
// serving <world>/set; no proxy from the environment gets between them.
inline void PrepareDownload(TestWorld& world, RecordingView& view, mapservice::ServiceConfig& config) {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
    platform::SetView(&view);
    theApp.ResetState();
    theApp.ProgramFolder = world.Win(world.root + "/program") + "\\";
    theApp.ProductNumber = "VT-01";
    std::filesystem::create_directories(world.root + "/maps");
    theApp.MapFolder = world.Win(world.root + "/maps");
    BindSha512();
    config.httpPort = 0;
    config.updateSet = world.root + "/set";
    config.callLog = world.root + "/calls.jsonl";
}
