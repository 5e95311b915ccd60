// UPower's OnBattery and its display device's charge, read as properties.
#include "platform/linux/Battery.h"

#include <cmath>

#include "platform/linux/SystemBus.h"

namespace platform::linuxpc {
namespace {

constexpr char kService[] = "org.freedesktop.UPower";
// A property read answers at once or not at all.
constexpr int kTimeoutMs = 2000;

Variant Property(const std::string& object, const char* interface, const char* name) {
    uint32_t result = 0;
    Variant reply = CallSystemBus(kService, object, "org.freedesktop.DBus.Properties", "Get",
                                  g_variant_new("(ss)", interface, name), "(v)", kTimeoutMs, &result);
    if (!reply) return nullptr;
    GVariant* value = nullptr;
    g_variant_get(reply.get(), "(v)", &value);
    return Variant(value);
}

}  // namespace

bool ReadPowerStatus(SYSTEM_POWER_STATUS* status) {
    Variant onBattery = Property("/org/freedesktop/UPower", "org.freedesktop.UPower", "OnBattery");
    if (!onBattery || !g_variant_is_of_type(onBattery.get(), G_VARIANT_TYPE_BOOLEAN)) return false;
    *status = {g_variant_get_boolean(onBattery.get()) ? kAcLineOffline : kAcLineOnline, kPowerStatusUnknown,
               kBatteryPercentageUnknown};
    const std::string display = "/org/freedesktop/UPower/devices/DisplayDevice";
    Variant present = Property(display, "org.freedesktop.UPower.Device", "IsPresent");
    if (present && g_variant_is_of_type(present.get(), G_VARIANT_TYPE_BOOLEAN) &&
        !g_variant_get_boolean(present.get())) {
        status->BatteryFlag = kBatteryFlagNoBattery;
        return true;
    }
    Variant percentage = Property(display, "org.freedesktop.UPower.Device", "Percentage");
    if (percentage && g_variant_is_of_type(percentage.get(), G_VARIANT_TYPE_DOUBLE)) {
        const double percent = g_variant_get_double(percentage.get());
        if (percent >= 0 && percent <= 100) status->BatteryLifePercent = static_cast<uint8_t>(std::lround(percent));
    }
    return true;
}

}  // namespace platform::linuxpc
