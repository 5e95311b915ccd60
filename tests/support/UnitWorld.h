// A TestWorld whose machine navisim made: C: and Z: (and D: as a CD drive when asked), the
// application object reset with its program folder in the world, the real DecodeEx bound, and
// a view that also records the notifications posted to the windows. Link navisim_core to use
// it.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <vector>

#include "NaviSim.h"
#include "state/VeltraneApp.h"
#include "platform/Handle.h"
#include "support/BuildFolders.h"
#include "support/RecordingView.h"
#include "support/TestWorld.h"

class UnitWorld : public TestWorld {
public:
    explicit UnitWorld(bool withCdDrive = false) {
        navisim::InitMachine(root + "/machine", withCdDrive);
        theApp.ResetState();
        theApp.ProgramFolder = Win(root + "/program") + "\\";
        static void* library = dlopen((BinFolder() + "/libDecode.so").c_str(), RTLD_NOW);
        if (library == nullptr) throw std::runtime_error(dlerror());
        theApp.pDecodeEx = reinterpret_cast<DecodeExFn>(dlsym(library, "DecodeEx"));
        platform::SetView(&recorder);
    }
    ~UnitWorld() {
        if (platform::HANDLE handle = theApp.Navi.DriveHandle.exchange(nullptr)) (void)platform::CloseHandle(handle);
        platform::SetView(nullptr);
        theApp.ResetState();
    }
    // The native path of a file the unit's drive shows ("/"-separated, relative).
    std::string UnitFile(const std::string& relative, const std::string& unit = "navi") const {
        return (navisim::UnitFiles(unit) / relative).string();
    }

    RecordingView recorder;
};
