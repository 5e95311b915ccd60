// A TestWorld whose machine navisim made: C: and Z: (and D: as a CD drive when asked), the
// application object reset with its program folder in the world, the real DecodeEx bound, and
// a view that also records the notifications posted to the windows. Link navisim_core and
// define VELTRANE_BIN_DIR to use it.
#pragma once

#include <dlfcn.h>

#include <mutex>
#include <stdexcept>
#include <vector>

#include "NaviSim.h"
#include "app/VeltraneApp.h"
#include "platform/Handle.h"
#include "support/TestWorld.h"

class RecordingView : public HeadlessView {
public:
    struct Notice {
        int window;
        uintptr_t wParam;
        intptr_t lParam;
    };
    void PostNotify(int window, uintptr_t wParam, intptr_t lParam) override {
        {
            std::lock_guard guard(noticesLock_);
            notices_.push_back({window, wParam, lParam});
        }
        HeadlessView::PostNotify(window, wParam, lParam);
    }
    std::vector<Notice> Notices() {
        std::lock_guard guard(noticesLock_);
        return notices_;
    }

private:
    std::mutex noticesLock_;
    std::vector<Notice> notices_;
};

class UnitWorld : public TestWorld {
public:
    explicit UnitWorld(bool withCdDrive = false) {
        navisim::InitMachine(root + "/machine", withCdDrive);
        theApp.ResetState();
        theApp.ProgramFolder = Win(root + "/program") + "\\";
        static void* library = dlopen(VELTRANE_BIN_DIR "/libDecode.so", RTLD_NOW);
        if (library == nullptr) throw std::runtime_error(dlerror());
        theApp.pDecodeEx = reinterpret_cast<DecodeExFn>(dlsym(library, "DecodeEx"));
        platform::SetView(&recorder);
    }
    ~UnitWorld() {
        if (platform::HANDLE handle = theApp.Navi.DriveHandle.exchange(nullptr)) platform::CloseHandle(handle);
        platform::SetView(nullptr);
        theApp.ResetState();
    }
    // The native path of a file the unit's drive shows ("/"-separated, relative).
    std::string UnitFile(const std::string& relative, const std::string& unit = "navi") const {
        return (navisim::UnitFiles(unit) / relative).string();
    }

    RecordingView recorder;
};
