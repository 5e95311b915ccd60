// The udisks2 client: plain GDBus calls on the system bus (no generated proxies), one
// connection kept while the bus keeps it open, the daemon's D-Bus errors turned into the
// Windows results the program handles.
#include "platform/linux/UDisks.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <gio/gunixfdlist.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "platform/Error.h"

namespace platform::linuxpc {
namespace {

constexpr char kService[] = "org.freedesktop.UDisks2";
constexpr char kRoot[] = "/org/freedesktop/UDisks2";
constexpr char kBlock[] = "org.freedesktop.UDisks2.Block";
constexpr char kDrive[] = "org.freedesktop.UDisks2.Drive";
constexpr char kFilesystem[] = "org.freedesktop.UDisks2.Filesystem";
constexpr char kPartition[] = "org.freedesktop.UDisks2.Partition";
// A format or a power-off waits for the device (and for the user at polkit's prompt).
constexpr int kLongCallMs = 10 * 60 * 1000;

struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

std::mutex connectionLock;
GDBusConnection* connection = nullptr;

// The system bus ($DBUS_SYSTEM_BUS_ADDRESS, else the standard socket), reconnected when the
// bus has closed it. Owned here; nullptr when there is no bus.
GDBusConnection* Bus() {
    std::lock_guard guard(connectionLock);
    if (connection != nullptr && g_dbus_connection_is_closed(connection)) {
        g_object_unref(connection);
        connection = nullptr;
    }
    if (connection == nullptr) {
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
        if (address == nullptr) return nullptr;
        auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        connection = g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, nullptr);
        g_free(address);
    }
    if (connection != nullptr) g_object_ref(connection);
    return connection;
}

uint32_t ErrorOf(const GError* error) {
    if (error == nullptr) return ERROR_GEN_FAILURE;
    gchar* remote = g_dbus_error_get_remote_error(error);
    std::string name = remote ? remote : "";
    g_free(remote);
    if (name == "org.freedesktop.UDisks2.Error.DeviceBusy" ||
        name.rfind("org.freedesktop.UDisks2.Error.NotAuthorized", 0) == 0)
        return ERROR_ACCESS_DENIED;
    if (name == "org.freedesktop.DBus.Error.UnknownObject" || name == "org.freedesktop.DBus.Error.UnknownMethod")
        return ERROR_DEVICE_NOT_CONNECTED;
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner")
        return ERROR_NOT_SUPPORTED;
    return ERROR_GEN_FAILURE;
}

// One method call; the reply, or nullptr with *result set. fds, when given, receives the
// descriptors the reply carries.
Variant Call(const std::string& object, const char* interface, const char* method, GVariant* arguments,
             const char* replyType, int timeoutMs, uint32_t* result, GUnixFDList** fds = nullptr) {
    GDBusConnection* bus = Bus();
    if (bus == nullptr) {
        if (arguments) g_variant_unref(g_variant_ref_sink(arguments));
        *result = ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    GError* raw = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, kService, object.c_str(), interface, method, arguments, G_VARIANT_TYPE(replyType),
        G_DBUS_CALL_FLAGS_NONE, timeoutMs, nullptr, fds, nullptr, &raw);
    g_object_unref(bus);
    Error error(raw);
    *result = reply ? ERROR_SUCCESS : ErrorOf(error.get());
    return Variant(reply);
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
    Variant reply = Call(kRoot, "org.freedesktop.DBus.ObjectManager", "GetManagedObjects", nullptr,
                         "(a{oa{sa{sv}}})", -1, &result);
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
    Variant reply = Call(block, kFilesystem, "Mount", g_variant_new("(a{sv})", &options), "(s)", -1, &result);
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
    Call(block, kFilesystem, "Unmount", g_variant_new("(a{sv})", &options), "()", -1, &result);
    return result;
}

int UDisksOpenDevice(const std::string& block, bool writable, int flags, uint32_t* error) {
    GVariantBuilder options = Options();
    g_variant_builder_add(&options, "{sv}", "flags", g_variant_new_int32(flags));
    GUnixFDList* raw = nullptr;
    uint32_t result = ERROR_SUCCESS;
    Variant reply = Call(block, kBlock, "OpenDevice", g_variant_new("(sa{sv})", writable ? "rw" : "r", &options),
                         "(h)", -1, &result, &raw);
    std::unique_ptr<GUnixFDList, ObjectUnref> fds(raw);
    int fd = -1;
    if (reply && fds) {
        gint32 index = -1;
        g_variant_get(reply.get(), "(h)", &index);
        fd = g_unix_fd_list_get(fds.get(), index, nullptr);  // a duplicate: the list closes its own
        if (fd < 0) result = ERROR_GEN_FAILURE;
    } else if (result == ERROR_SUCCESS) {
        result = ERROR_GEN_FAILURE;
    }
    // Unmarked, the descriptor would only reach a child process, and the program starts none.
    if (fd >= 0) static_cast<void>(::fcntl(fd, F_SETFD, FD_CLOEXEC));
    *error = result;
    return fd;
}

uint32_t UDisksFormat(const std::string& block, const std::string& type, const std::string& label) {
    GVariantBuilder options = Options();
    g_variant_builder_add(&options, "{sv}", "label", g_variant_new_string(label.c_str()));
    uint32_t result = ERROR_SUCCESS;
    Call(block, kBlock, "Format", g_variant_new("(sa{sv})", type.c_str(), &options), "()", kLongCallMs, &result);
    return result;
}

uint32_t UDisksPowerOff(const std::string& drive) {
    GVariantBuilder options = Options();
    uint32_t result = ERROR_SUCCESS;
    Call(drive, kDrive, "PowerOff", g_variant_new("(a{sv})", &options), "()", kLongCallMs, &result);
    return result;
}

}  // namespace platform::linuxpc
