// A helper thread for the blocking WinINet calls of one exchange: the caller waits in short
// slices, so a stop request or a stall is acted on within about a second. It then closes the
// call's handle, the documented way to cancel a synchronous WinINet call; where that does not
// end the call at once (Wine), the caller leaves it behind and the helper ends with it later,
// at WinINet's own timeout. A call therefore owns everything it touches.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform::win32 {

class BlockingCall {
public:
    enum class Outcome { Done, Stopped, Stalled };

    BlockingCall();
    ~BlockingCall();
    BlockingCall(const BlockingCall&) = delete;
    BlockingCall& operator=(const BlockingCall&) = delete;

    // Runs `call` on the helper thread. When `stop` answers true or the call has not returned
    // after `limitMilliseconds`, runs `abort` and returns without waiting long for the call.
    Outcome Run(std::function<void()> call, const std::function<bool()>& stop, uint32_t limitMilliseconds,
                const std::function<void()>& abort);

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace platform::win32
