// The system bus connection ($DBUS_SYSTEM_BUS_ADDRESS, else the standard socket), made anew
// when the bus has closed it or the address has changed.
#include "platform/linux/SystemBus.h"

#include <fcntl.h>

#include <mutex>

#include "platform/Error.h"

namespace platform::linuxpc {
namespace {

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

std::mutex connectionLock;
GDBusConnection* connection = nullptr;
std::string connectedAddress;

// A reference to the connection, or nullptr when there is no bus.
GDBusConnection* Bus() {
    gchar* found = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (found == nullptr) return nullptr;
    std::string address = found;
    g_free(found);
    std::lock_guard guard(connectionLock);
    if (connection != nullptr && (g_dbus_connection_is_closed(connection) || address != connectedAddress)) {
        g_object_unref(connection);
        connection = nullptr;
    }
    if (connection == nullptr) {
        auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        connection = g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr, nullptr);
        connectedAddress = address;
    }
    if (connection != nullptr) g_object_ref(connection);
    return connection;
}

uint32_t ErrorOf(const GError* error) {
    if (error == nullptr) return ERROR_GEN_FAILURE;
    gchar* remote = g_dbus_error_get_remote_error(error);
    std::string name = remote ? remote : "";
    g_free(remote);
    // NotAuthorized, NotAuthorizedCanObtain (nobody could be asked: no polkit agent runs) and
    // NotAuthorizedDismissed (the user closed the prompt): not another program holding the unit.
    if (name.rfind("org.freedesktop.UDisks2.Error.NotAuthorized", 0) == 0) return ERROR_ELEVATION_REQUIRED;
    if (name == "org.freedesktop.UDisks2.Error.DeviceBusy" || name == "org.freedesktop.DBus.Error.AccessDenied")
        return ERROR_ACCESS_DENIED;
    if (name == "org.freedesktop.DBus.Error.UnknownObject" || name == "org.freedesktop.DBus.Error.UnknownMethod")
        return ERROR_DEVICE_NOT_CONNECTED;
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
        name.rfind("org.freedesktop.DBus.Error.Spawn", 0) == 0)
        return ERROR_NOT_SUPPORTED;
    return ERROR_GEN_FAILURE;
}

}  // namespace

Variant CallSystemBus(const char* service, const std::string& object, const char* interface, const char* method,
                      GVariant* arguments, const char* replyType, int timeoutMs, uint32_t* result, GUnixFDList** fds) {
    GDBusConnection* bus = Bus();
    if (bus == nullptr) {
        if (arguments) g_variant_unref(g_variant_ref_sink(arguments));
        *result = ERROR_NOT_SUPPORTED;
        return nullptr;
    }
    GError* raw = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        bus, service, object.c_str(), interface, method, arguments, G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE,
        timeoutMs, nullptr, fds, nullptr, &raw);
    g_object_unref(bus);
    Error error(raw);
    *result = reply ? ERROR_SUCCESS : ErrorOf(error.get());
    return Variant(reply);
}

int ReplyDescriptor(GVariant* reply, GUnixFDList* fds) {
    if (reply == nullptr || fds == nullptr) return -1;
    gint32 index = -1;
    g_variant_get(reply, "(h)", &index);
    int fd = g_unix_fd_list_get(fds, index, nullptr);  // a duplicate: the list closes its own
    // Unmarked, the descriptor would only reach a child process, and none is started holding it.
    if (fd >= 0) static_cast<void>(::fcntl(fd, F_SETFD, FD_CLOEXEC));
    return fd;
}

}  // namespace platform::linuxpc
