// The real clock, the switch to a test's clock, the local time, tick counts and Sleep on the
// current one, and the running total of the program's fixed waits.
#include "platform/Clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace platform {
namespace {

class RealClock : public Clock {
public:
    int64_t NowMilliseconds() override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    uint64_t TickMilliseconds() override {
        using namespace std::chrono;
        return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }
    void Sleep(uint32_t milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
};

RealClock realClock;
std::atomic<Clock*> current{&realClock};
std::atomic<uint64_t> slept{0};

}  // namespace

void SetClock(Clock* clock) { current = clock ? clock : &realClock; }
Clock& CurrentClock() { return *current.load(); }
Clock& MachineClock() { return realClock; }

void GetLocalTime(SYSTEMTIME* time) {
    int64_t ms = CurrentClock().NowMilliseconds();
    time_t seconds = static_cast<time_t>(ms / 1000);
    struct tm local {};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    time->wYear = static_cast<uint16_t>(local.tm_year + 1900);
    time->wMonth = static_cast<uint16_t>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<uint16_t>(local.tm_wday);
    time->wDay = static_cast<uint16_t>(local.tm_mday);
    time->wHour = static_cast<uint16_t>(local.tm_hour);
    time->wMinute = static_cast<uint16_t>(local.tm_min);
    time->wSecond = static_cast<uint16_t>(local.tm_sec);
    time->wMilliseconds = static_cast<uint16_t>(ms % 1000);
}

uint32_t GetTickCount() { return static_cast<uint32_t>(CurrentClock().TickMilliseconds()); }
uint64_t GetTickCount64() { return CurrentClock().TickMilliseconds(); }
void Sleep(uint32_t milliseconds) {
    slept.fetch_add(milliseconds, std::memory_order_relaxed);
    CurrentClock().Sleep(milliseconds);
}
uint64_t SleptMilliseconds() { return slept.load(std::memory_order_relaxed); }

FakeClock::FakeClock(int year, int month, int day, int hour, int minute, int second) {
    struct tm local {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    start_ = static_cast<int64_t>(mktime(&local)) * 1000;
    now_ = start_;
}

}  // namespace platform
