// One call of the device layer run beside the window, for the calls that may wait on the user:
// on Linux a desktop user's authorisation prompt, which udisks2 waits up to ten minutes for.
// The window starts it, looks on a step timer whether it has ended and takes its result there,
// answering meanwhile. One call at a time; only the window's thread starts, looks and takes.
#pragma once

#include <atomic>
#include <functional>

#include "base/ThreadHandle.h"

class UnitCall {
public:
    // Runs `call` on a thread of its own; in place where the system gives no thread.
    void Start(const std::function<int()>& call) {
        ended_ = false;
        inFlight_ = true;
        if (thread_.Start([this, call] { End(call()); })) return;
        End(call());
    }
    // Started, and its result not taken yet.
    bool InFlight() const { return inFlight_; }
    bool Ended() const { return ended_; }
    // The ended call's result.
    int Take() {
        thread_.JoinAndClose();
        inFlight_ = false;
        return result_;
    }

private:
    void End(int result) {
        result_ = result;
        ended_ = true;
    }

    ThreadHandle thread_;
    std::atomic<int> result_{0};
    std::atomic<bool> ended_{false};
    bool inFlight_ = false;
};
