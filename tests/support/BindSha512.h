// Binds the built sha512 library into the application object, as the start-up does.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "state/VeltraneApp.h"

inline void BindSha512(const std::string& libraryFolder) {
    void* library = dlopen((libraryFolder + "/libsha512.so").c_str(), RTLD_NOW);
    if (library == nullptr) throw std::runtime_error(dlerror());
    theApp.pCreateAlgorithm = reinterpret_cast<CreateAlgorithmFn>(dlsym(library, "CreateAlgorithm"));
    theApp.pDestroyAlgorithm = reinterpret_cast<DestroyAlgorithmFn>(dlsym(library, "DestroyAlgorithm"));
    theApp.pInitAlgorithm = reinterpret_cast<InitAlgorithmFn>(dlsym(library, "InitAlgorithm"));
    theApp.pInputData = reinterpret_cast<InputDataFn>(dlsym(library, "InputData"));
    theApp.pGetHashLength = reinterpret_cast<GetHashLengthFn>(dlsym(library, "GetHashLength"));
    theApp.pGetHash = reinterpret_cast<GetHashFn>(dlsym(library, "GetHash"));
}
