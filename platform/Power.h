// Keeping the PC awake while a job runs. Idle sleep counts neither disk, USB nor CPU work: a
// laptop left alone would sleep under a long download or an image write, the unit would lose
// its power and be left with its boot signature cleared.
#pragma once

namespace platform {

// Held by a job's thread for the job's whole run. On Windows the system stays out of idle
// sleep while any thread holds one (the display may still turn off).
class KeepAwake {
public:
    KeepAwake();
    ~KeepAwake();
    KeepAwake(const KeepAwake&) = delete;
    KeepAwake& operator=(const KeepAwake&) = delete;
};

// How many KeepAwake requests are held at this moment.
int AwakeRequests();

}  // namespace platform
