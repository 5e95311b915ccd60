// The helper thread behind BlockingCall: it runs each call it is handed, while the caller waits
// in slices and may leave a stalled or stopped call behind to finish on its own.
#include "platform/win32/BlockingCall.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform::win32 {

struct BlockingCall::State {
    std::mutex lock;
    std::condition_variable changed;
    std::function<void()> call;
    bool busy = false;  // a call was handed over and has not returned
    bool finished = false;
    bool quit = false;
};

namespace {

// How often a waiting caller looks at its stop request, and how long it then gives a
// cancelled call to come back.
constexpr std::chrono::milliseconds kSlice(100);
constexpr std::chrono::milliseconds kCancelGrace(500);

void Serve(const std::shared_ptr<BlockingCall::State>& state) {
    std::unique_lock<std::mutex> hold(state->lock);
    for (;;) {
        state->changed.wait(hold, [&] { return state->quit || state->call; });
        if (!state->call) return;
        std::function<void()> call = std::move(state->call);
        state->call = nullptr;
        hold.unlock();
        call();
        hold.lock();
        state->busy = false;
        state->finished = true;
        state->changed.notify_all();
    }
}

}  // namespace

BlockingCall::BlockingCall() : state_(std::make_shared<State>()) {
    // The thread holds the state, so a call left behind can still finish after this object.
    std::thread([state = state_] { Serve(state); }).detach();
}

BlockingCall::~BlockingCall() {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->quit = true;
    state_->changed.notify_all();
}

BlockingCall::Outcome BlockingCall::Run(std::function<void()> call, const std::function<bool()>& stop,
                                        uint32_t limitMilliseconds, const std::function<void()>& abort) {
    State& state = *state_;
    std::unique_lock<std::mutex> hold(state.lock);
    // A call left behind earlier still runs: this exchange is over.
    if (state.busy) return Outcome::Stopped;
    state.busy = true;
    state.finished = false;
    state.call = std::move(call);
    state.changed.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMilliseconds);
    while (!state.changed.wait_for(hold, kSlice, [&] { return state.finished; })) {
        hold.unlock();
        Outcome outcome = stop && stop()                                 ? Outcome::Stopped
                          : std::chrono::steady_clock::now() >= deadline ? Outcome::Stalled
                                                                         : Outcome::Done;
        if (outcome != Outcome::Done) abort();
        hold.lock();
        if (outcome == Outcome::Done) continue;
        state.changed.wait_for(hold, kCancelGrace, [&] { return state.finished; });
        return outcome;
    }
    return Outcome::Done;
}

}  // namespace platform::win32
