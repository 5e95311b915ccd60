// Keeping the real PC awake: the first request takes a logind sleep inhibitor, the last gives
// it back; without logind the request fails quietly; the simulated machine only counts. A
// stand-in logind on the test's own system bus hands out one end of a pipe per inhibitor and
// sees it given back when the program closes its end.
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "platform/Power.h"
#include "platform/sim/Machine.h"
#include "support/FakeBusService.h"
#include "support/TestSystemBus.h"

namespace {

constexpr char kIntrospection[] =
    "<node><interface name='org.freedesktop.login1.Manager'><method name='Inhibit'>"
    "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
    "<arg type='s' direction='in'/><arg type='h' direction='out'/></method></interface></node>";

class FakeLogind {
public:
    bool Serving() const { return service_.Serving(); }
    int Requests() {
        std::lock_guard guard(lock_);
        return requests_;
    }
    // "what" and "mode" of the last request.
    std::string Last() {
        std::lock_guard guard(lock_);
        return last_;
    }
    // The program still holds the last inhibitor: its end of the pipe is open.
    bool Held() {
        std::lock_guard guard(lock_);
        return held_ >= 0 && !ClosedWithin(0);
    }
    // Every end of the last inhibitor's pipe is closed within `milliseconds`. The bus may close
    // its own copy of the end it passed a moment after the program has closed its one.
    bool GivenBack(int milliseconds) {
        std::lock_guard guard(lock_);
        return held_ >= 0 && ClosedWithin(milliseconds);
    }
    ~FakeLogind() {
        if (held_ >= 0) ::close(held_);
    }

private:
    static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* arguments,
                       GDBusMethodInvocation* invocation, gpointer self) {
        auto* logind = static_cast<FakeLogind*>(self);
        const gchar *what, *who, *why, *mode;
        g_variant_get(arguments, "(&s&s&s&s)", &what, &who, &why, &mode);
        int ends[2];
        if (::pipe(ends) != 0) return g_dbus_method_invocation_return_dbus_error(invocation, "x.Failed", "pipe");
        GUnixFDList* fds = g_unix_fd_list_new_from_array(&ends[1], 1);  // the list owns the writing end
        {
            std::lock_guard guard(logind->lock_);
            ++logind->requests_;
            logind->last_ = std::string(what) + " " + mode;
            if (logind->held_ >= 0) ::close(logind->held_);
            logind->held_ = ends[0];
        }
        g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, g_variant_new("(h)", 0), fds);
        g_object_unref(fds);
    }
    bool ClosedWithin(int milliseconds) {
        pollfd end{held_, POLLIN, 0};
        return ::poll(&end, 1, milliseconds) == 1;
    }

    static constexpr GDBusInterfaceVTable kVTable = {OnCall, nullptr, nullptr, {}};
    std::mutex lock_;
    int requests_ = 0;
    std::string last_;
    int held_ = -1;
    // Last: it stops serving before the fields its calls use go.
    FakeBusService service_{"org.freedesktop.login1", {{"/org/freedesktop/login1", kIntrospection, &kVTable, this}}};
};

}  // namespace

TEST(KeepAwakeTest, RealPcHoldsOneSleepInhibitorWhileAnyRequestIsHeld) {
    TestSystemBus bus;
    if (!bus.SkipReason().empty()) GTEST_SKIP() << bus.SkipReason();
    TestWorld world;
    ASSERT_FALSE(platform::MachineSimulated());
    {
        // No logind on the bus: the job goes on without an inhibitor.
        platform::KeepAwake alone;
        EXPECT_EQ(platform::AwakeRequests(), 1);
    }
    FakeLogind logind;
    ASSERT_TRUE(logind.Serving());
    {
        platform::KeepAwake download;
        EXPECT_EQ(logind.Requests(), 1);
        EXPECT_EQ(logind.Last(), "sleep block");
        EXPECT_TRUE(logind.Held());
        {
            platform::KeepAwake transfer;
            EXPECT_EQ(platform::AwakeRequests(), 2);
        }
        EXPECT_EQ(logind.Requests(), 1);
        EXPECT_TRUE(logind.Held());
    }
    EXPECT_TRUE(logind.GivenBack(10000));
    EXPECT_EQ(platform::AwakeRequests(), 0);

    // The simulated machine is no PC to keep awake: it only counts.
    TestWorld::WriteFile(world.root + "/machine/machine.ini", "");
    platform::ChooseMachine();
    ASSERT_TRUE(platform::MachineSimulated());
    {
        platform::KeepAwake simulated;
        EXPECT_EQ(platform::AwakeRequests(), 1);
    }
    EXPECT_EQ(logind.Requests(), 1);
}
