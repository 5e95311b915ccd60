// A stand-in daemon on the test's system bus (TestSystemBus): objects described by
// introspection XML, served on a thread of its own under the daemon's well-known name. The
// vtable's calls and property reads run on that thread.
#pragma once

#include <gio/gio.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

class FakeBusService {
public:
    struct Object {
        std::string path;
        std::string introspection;  // "<node><interface name='...'>...</interface></node>"
        const GDBusInterfaceVTable* vtable;
        void* data;
    };

    FakeBusService(std::string name, std::vector<Object> objects)
        : name_(std::move(name)), objects_(std::move(objects)) {
        thread_ = std::thread([this] { Run(); });
        while (!ready_) std::this_thread::yield();
    }
    ~FakeBusService() {
        g_main_loop_quit(loop_);
        thread_.join();
    }
    FakeBusService(const FakeBusService&) = delete;
    FakeBusService& operator=(const FakeBusService&) = delete;

    // The name is ours and every object is registered.
    bool Serving() const { return serving_; }

private:
    void Run() {
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        loop_ = g_main_loop_new(context, FALSE);
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
        auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        GDBusConnection* bus = g_dbus_connection_new_for_address_sync(address, flags, nullptr, nullptr, nullptr);
        g_free(address);
        std::vector<GDBusNodeInfo*> nodes;
        bool registered = bus != nullptr;
        for (const Object& object : objects_) {
            GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(object.introspection.c_str(), nullptr);
            if (node == nullptr) {
                registered = false;
                continue;
            }
            nodes.push_back(node);
            registered =
                registered && g_dbus_connection_register_object(bus, object.path.c_str(), node->interfaces[0],
                                                                object.vtable, object.data, nullptr, nullptr) != 0;
        }
        if (registered) {
            GVariant* owner = g_dbus_connection_call_sync(
                bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                g_variant_new("(su)", name_.c_str(), 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                nullptr);
            guint32 answer = 0;
            if (owner != nullptr) {
                g_variant_get(owner, "(u)", &answer);
                g_variant_unref(owner);
            }
            serving_ = answer == 1;  // the primary owner
        }
        ready_ = true;
        g_main_loop_run(loop_);
        for (GDBusNodeInfo* node : nodes) g_dbus_node_info_unref(node);
        if (bus != nullptr) {
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
        }
        g_main_loop_unref(loop_);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    std::string name_;
    std::vector<Object> objects_;
    std::thread thread_;
    std::atomic<bool> ready_{false};
    std::atomic<bool> serving_{false};
    GMainLoop* loop_ = nullptr;
};
