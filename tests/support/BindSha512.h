// Binds the built sha512 library (in the build's bin folder) into the application object, as
// the start-up does.
#pragma once

#include <stdexcept>
#include <string>

#include "state/VeltraneApp.h"
#include "support/BuildFolders.h"
#if defined(_WIN32)
#include "platform/Library.h"
#include "platform/Paths.h"
#else
#include <dlfcn.h>
#endif

inline void BindSha512() {
    const std::string libraryFolder = BinFolder();
#if defined(_WIN32)
    auto path = platform::ToWindowsPath(libraryFolder + "/sha512.dll");
    platform::HMODULE library = path ? platform::LoadLibraryA(path->c_str()) : nullptr;
    if (library == nullptr) throw std::runtime_error("sha512.dll does not load from " + libraryFolder);
    auto symbol = [library](const char* name) { return platform::GetProcAddress(library, name); };
#else
    void* library = dlopen((libraryFolder + "/libsha512.so").c_str(), RTLD_NOW);
    if (library == nullptr) throw std::runtime_error(dlerror());
    auto symbol = [library](const char* name) { return dlsym(library, name); };
#endif
    theApp.pCreateAlgorithm = reinterpret_cast<CreateAlgorithmFn>(symbol("CreateAlgorithm"));
    theApp.pDestroyAlgorithm = reinterpret_cast<DestroyAlgorithmFn>(symbol("DestroyAlgorithm"));
    theApp.pInitAlgorithm = reinterpret_cast<InitAlgorithmFn>(symbol("InitAlgorithm"));
    theApp.pInputData = reinterpret_cast<InputDataFn>(symbol("InputData"));
    theApp.pGetHashLength = reinterpret_cast<GetHashLengthFn>(symbol("GetHashLength"));
    theApp.pGetHash = reinterpret_cast<GetHashFn>(symbol("GetHash"));
}
