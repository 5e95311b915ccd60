// The power source: on a real PC from UPower over the system bus (a stand-in UPower on the
// test's own bus answers its properties), on the simulated machine from machine.ini's [Power].
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/Power.h"
#include "platform/sim/Machine.h"
#include "support/FakeBusService.h"
#include "support/TestSystemBus.h"
#include "support/TestWorld.h"

namespace {

constexpr char kManager[] =
    "<node><interface name='org.freedesktop.UPower'><property name='OnBattery' type='b' access='read'/>"
    "</interface></node>";
constexpr char kDisplayDevice[] =
    "<node><interface name='org.freedesktop.UPower.Device'><property name='IsPresent' type='b' access='read'/>"
    "<property name='Percentage' type='d' access='read'/></interface></node>";

class FakeUPower {
public:
    std::atomic<bool> onBattery{false};
    std::atomic<bool> present{true};
    std::atomic<double> percentage{100};
    bool Serving() const { return service_.Serving(); }

private:
    static GVariant* OnProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                                gpointer self) {
        auto* upower = static_cast<FakeUPower*>(self);
        const std::string property = name;
        if (property == "OnBattery") return g_variant_new_boolean(upower->onBattery);
        if (property == "IsPresent") return g_variant_new_boolean(upower->present);
        return g_variant_new_double(upower->percentage);
    }

    static constexpr GDBusInterfaceVTable kVTable = {nullptr, OnProperty, nullptr, {}};
    FakeBusService service_{"org.freedesktop.UPower",
                            {{"/org/freedesktop/UPower", kManager, &kVTable, this},
                             {"/org/freedesktop/UPower/devices/DisplayDevice", kDisplayDevice, &kVTable, this}}};
};

}  // namespace

TEST(PowerStatusTest, RealPcReadsUPowerAndTheSimulatedMachineItsPowerSection) {
    TestSystemBus bus;
    if (!bus.SkipReason().empty()) GTEST_SKIP() << bus.SkipReason();
    TestWorld world;
    ASSERT_FALSE(platform::MachineSimulated());
    platform::SYSTEM_POWER_STATUS power;
    EXPECT_FALSE(platform::GetSystemPowerStatus(&power)) << "no UPower on the bus: nothing is known";

    FakeUPower upower;
    ASSERT_TRUE(upower.Serving());
    upower.onBattery = true;
    upower.percentage = 28.6;
    ASSERT_TRUE(platform::GetSystemPowerStatus(&power));
    EXPECT_EQ(power.ACLineStatus, platform::kAcLineOffline);
    EXPECT_EQ(power.BatteryLifePercent, 29);
    upower.onBattery = false;
    upower.present = false;
    ASSERT_TRUE(platform::GetSystemPowerStatus(&power));
    EXPECT_EQ(power.ACLineStatus, platform::kAcLineOnline);
    EXPECT_EQ(power.BatteryFlag, platform::kBatteryFlagNoBattery);
    EXPECT_EQ(power.BatteryLifePercent, platform::kBatteryPercentageUnknown);

    // The simulated machine: mains power unless its description puts it on its battery.
    TestWorld::WriteFile(world.root + "/machine/machine.ini", "");
    platform::ChooseMachine();
    ASSERT_TRUE(platform::MachineSimulated());
    ASSERT_TRUE(platform::GetSystemPowerStatus(&power));
    EXPECT_EQ(power.ACLineStatus, platform::kAcLineOnline);
    TestWorld::WriteFile(world.root + "/machine/machine.ini", "[Power]\r\nBattery=12\r\n");
    ASSERT_TRUE(platform::GetSystemPowerStatus(&power));
    EXPECT_EQ(power.ACLineStatus, platform::kAcLineOffline);
    EXPECT_EQ(power.BatteryLifePercent, 12);
}
