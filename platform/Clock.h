// Local time, tick count and Sleep behind one clock. The program's fixed waits (5 s between
// copy attempts, 3 s before a reopen, 50 ms button repaints) go through Sleep, so a test that
// installs a FakeClock runs them in no time while the program's order of events stays real.
#pragma once

#include <atomic>
#include <cstdint>

namespace platform {

struct SYSTEMTIME {
    uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds since the Unix epoch, in local wall-clock terms.
    virtual int64_t NowMilliseconds() = 0;
    // Milliseconds since an arbitrary start, monotonic.
    virtual uint64_t TickMilliseconds() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

// The clock every platform time call uses; nullptr restores the real one.
void SetClock(Clock* clock);
Clock& CurrentClock();
// The machine's own clock, whichever one SetClock installed. A rate is measured on it: a test's
// fake clock moves with the test's loop, not with the bytes that arrive meanwhile.
Clock& MachineClock();

void GetLocalTime(SYSTEMTIME* time);
uint32_t GetTickCount();
uint64_t GetTickCount64();
void Sleep(uint32_t milliseconds);
// The milliseconds asked of Sleep so far by every thread, whatever the clock: what a run spent
// in the program's fixed waits.
uint64_t SleptMilliseconds();

// A clock that stands still until told to move; Sleep moves it by the time slept.
class FakeClock : public Clock {
public:
    // Starts at a local date and time (given in the local time zone of the process).
    FakeClock(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
    int64_t NowMilliseconds() override { return now_.load(); }
    uint64_t TickMilliseconds() override { return static_cast<uint64_t>(now_.load() - start_); }
    void Sleep(uint32_t milliseconds) override { Advance(milliseconds); }
    void Advance(int64_t milliseconds) { now_ += milliseconds; }

private:
    std::atomic<int64_t> now_;
    int64_t start_;
};

}  // namespace platform
