// What a handle of the simulated machine points to: raw volumes and processes derive from it,
// so that CloseHandle can end any of them.
#pragma once

namespace platform {

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

}  // namespace platform
