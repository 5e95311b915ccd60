// org.freedesktop.login1.Manager.Inhibit("sleep", ..., "block") on the system bus.
#include "platform/linux/SleepInhibitor.h"

#include <atomic>
#include <string>

#include "platform/Debug.h"
#include "platform/Error.h"
#include "platform/linux/SystemBus.h"

namespace platform::linuxpc {
namespace {

std::atomic<bool> failureLogged{false};

}  // namespace

int InhibitSleep() {
    GUnixFDList* raw = nullptr;
    uint32_t result = ERROR_SUCCESS;
    Variant reply = CallSystemBus("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                  "Inhibit", g_variant_new("(ssss)", "sleep", "Veltrane", "地図更新の処理中", "block"),
                                  "(h)", -1, &result, &raw);
    FdList fds(raw);
    int fd = ReplyDescriptor(reply.get(), fds.get());
    if (fd < 0 && !failureLogged.exchange(true)) {
        std::string text = "Veltrane: logind keeps no sleep inhibitor (error " + std::to_string(result) +
                           "); the PC may sleep during a job";
        OutputDebugStringA(text.c_str());
    }
    return fd;
}

}  // namespace platform::linuxpc
