// The udisks2 client: plain GDBus calls on the system bus (no generated proxies).
#include "platform/linux/UDisks.h"

#include <memory>

#include "platform/Error.h"
#include "platform/linux/SystemBus.h"

namespace platform::linuxpc {
namespace {

constexpr char kService[] = "org.freedesktop.UDisks2";
constexpr char kRoot[] = "/org/freedesktop/UDisks2";
constexpr char kBlock[] = "org.freedesktop.UDisks2.Block";
constexpr char kDrive[] = "org.freedesktop.UDisks2.Drive";
constexpr char kFilesystem[] = "org.freedesktop.UDisks2.Filesystem";
constexpr char kPartition[] = "org.freedesktop.UDisks2.Partition";
// A request waits for the device (a format, a power-off) and for the user at polkit's prompt:
// GDBus's own 25 s would fail a request whose password is still being typed.
constexpr int kRequestMs = 10 * 60 * 1000;

Variant Call(const std::string& object, const char* interface, const char* method, GVariant* arguments,
             const char* replyType, int timeoutMs, uint32_t* result, GUnixFDList** fds = nullptr) {
    return CallSystemBus(kService, object, interface, method, arguments, replyType, timeoutMs, result, fds);
}

// Options that let polkit ask the desktop user where its policy wants a password.
GVariantBuilder Options() {
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&options, "{sv}", "auth.no_user_interaction", g_variant_new_boolean(FALSE));
    return options;
}

std::string Text(GVariant* properties, const char* name) {
    const gchar* value = nullptr;
    return g_variant_lookup(properties, name, "&s", &value) && value ? value : "";
}

std::string Bytes(GVariant* properties, const char* name) {
    const gchar* value = nullptr;
    return g_variant_lookup(properties, name, "^&ay", &value) && value ? value : "";
}

bool Flag(GVariant* properties, const char* name) {
    gboolean value = FALSE;
    return g_variant_lookup(properties, name, "b", &value) && value;
}

std::vector<std::string> MountPoints(GVariant* properties) {
    std::vector<std::string> points;
    Variant list(g_variant_lookup_value(properties, "MountPoints", G_VARIANT_TYPE("aay")));
    if (!list) return points;
    for (gsize i = 0; i < g_variant_n_children(list.get()); ++i) {
        Variant point(g_variant_get_child_value(list.get(), i));
        points.emplace_back(g_variant_get_bytestring(point.get()));
    }
    return points;
}

}  // namespace

const UDisksDrive* UDisksObjects::DriveOf(const UDisksBlock& block) const {
    for (const UDisksDrive& drive : drives)
        if (drive.object == block.drive) return &drive;
    return nullptr;
}

const UDisksBlock* UDisksObjects::BlockOf(dev_t number) const {
    for (const UDisksBlock& block : blocks)
        if (block.number == number) return &block;
    return nullptr;
}

std::optional<UDisksObjects> UDisksList() {
    uint32_t result = ERROR_SUCCESS;
    Variant reply =
        Call(kRoot, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", nullptr, "(a{oa{sa{sv}}})", -1, &result);
    if (!reply) return std::nullopt;
    UDisksObjects objects;
    GVariantIter* objectIter = nullptr;
    g_variant_get(reply.get(), "(a{oa{sa{sv}}})", &objectIter);
    const gchar* path = nullptr;
    GVariant* interfaces = nullptr;
    while (g_variant_iter_next(objectIter, "{&o@a{sa{sv}}}", &path, &interfaces)) {
        Variant owned(interfaces);
        if (Variant block{g_variant_lookup_value(interfaces, kBlock, G_VARIANT_TYPE("a{sv}"))}) {
            UDisksBlock entry;
            entry.object = path;
            entry.device = Bytes(block.get(), "Device");
            guint64 number = 0;
            if (g_variant_lookup(block.get(), "DeviceNumber", "t", &number)) entry.number = static_cast<dev_t>(number);
            const gchar* drive = nullptr;
            entry.drive = g_variant_lookup(block.get(), "Drive", "&o", &drive) ? drive : "/";
            entry.idType = Text(block.get(), "IdType");
            entry.idUuid = Text(block.get(), "IdUUID");
            entry.idLabel = Text(block.get(), "IdLabel");
            if (Variant fs{g_variant_lookup_value(interfaces, kFilesystem, G_VARIANT_TYPE("a{sv}"))}) {
                entry.filesystem = true;
                entry.mountPoints = MountPoints(fs.get());
            }
            if (Variant part{g_variant_lookup_value(interfaces, kPartition, G_VARIANT_TYPE("a{sv}"))}) {
                const gchar* table = nullptr;
                if (g_variant_lookup(part.get(), "Table", "&o", &table)) entry.partitionTable = table;
            }
            objects.blocks.push_back(std::move(entry));
        }
        if (Variant drive{g_variant_lookup_value(interfaces, kDrive, G_VARIANT_TYPE("a{sv}"))}) {
            UDisksDrive entry;
            entry.object = path;
            entry.connectionBus = Text(drive.get(), "ConnectionBus");
            entry.removable = Flag(drive.get(), "Removable");
            entry.canPowerOff = Flag(drive.get(), "CanPowerOff");
            objects.drives.push_back(std::move(entry));
        }
    }
    g_variant_iter_free(objectIter);
    return objects;
}

uint32_t UDisksMount(const std::string& block, std::string* mountPoint) {
    GVariantBuilder options = Options();
    uint32_t result = ERROR_SUCCESS;
    Variant reply = Call(block, kFilesystem, "Mount", g_variant_new("(a{sv})", &options), "(s)", kRequestMs, &result);
    if (reply && mountPoint) {
        const gchar* point = nullptr;
        g_variant_get(reply.get(), "(&s)", &point);
        *mountPoint = point;
    }
    return result;
}

uint32_t UDisksUnmount(const std::string& block) {
    GVariantBuilder options = Options();
    uint32_t result = ERROR_SUCCESS;
    Call(block, kFilesystem, "Unmount", g_variant_new("(a{sv})", &options), "()", kRequestMs, &result);
    return result;
}

int UDisksOpenDevice(const std::string& block, bool writable, int flags, uint32_t* error) {
    GVariantBuilder options = Options();
    g_variant_builder_add(&options, "{sv}", "flags", g_variant_new_int32(flags));
    GUnixFDList* raw = nullptr;
    uint32_t result = ERROR_SUCCESS;
    Variant reply = Call(block, kBlock, "OpenDevice", g_variant_new("(sa{sv})", writable ? "rw" : "r", &options), "(h)",
                         kRequestMs, &result, &raw);
    FdList fds(raw);
    int fd = ReplyDescriptor(reply.get(), fds.get());
    if (fd < 0 && result == ERROR_SUCCESS) result = ERROR_GEN_FAILURE;
    *error = result;
    return fd;
}

uint32_t UDisksFormat(const std::string& block, const std::string& type, const std::string& label) {
    GVariantBuilder options = Options();
    g_variant_builder_add(&options, "{sv}", "label", g_variant_new_string(label.c_str()));
    uint32_t result = ERROR_SUCCESS;
    Call(block, kBlock, "Format", g_variant_new("(sa{sv})", type.c_str(), &options), "()", kRequestMs, &result);
    return result;
}

uint32_t UDisksPowerOff(const std::string& drive) {
    GVariantBuilder options = Options();
    uint32_t result = ERROR_SUCCESS;
    Call(drive, kDrive, "PowerOff", g_variant_new("(a{sv})", &options), "()", kRequestMs, &result);
    return result;
}

}  // namespace platform::linuxpc
