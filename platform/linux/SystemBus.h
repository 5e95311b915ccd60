// Method calls on the system D-Bus through GIO, for the real PC's daemons (udisks2, logind):
// one connection kept while the bus keeps it open, D-Bus errors turned into Windows results.
#pragma once

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include <cstdint>
#include <memory>
#include <string>

namespace platform::linuxpc {

struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using FdList = std::unique_ptr<GUnixFDList, ObjectUnref>;

// One method call; the reply, or nullptr with *result set: a busy device ERROR_ACCESS_DENIED,
// a refusal by polkit ERROR_ELEVATION_REQUIRED, an object gone ERROR_DEVICE_NOT_CONNECTED, no bus or no such
// service ERROR_NOT_SUPPORTED, anything else ERROR_GEN_FAILURE. `arguments` is consumed. fds,
// when given, receives the descriptors the reply carries.
Variant CallSystemBus(const char* service, const std::string& object, const char* interface, const char* method,
                      GVariant* arguments, const char* replyType, int timeoutMs, uint32_t* result,
                      GUnixFDList** fds = nullptr);

// The first descriptor a reply of type "(h)" carries, or -1: a duplicate of ours, close-on-exec.
int ReplyDescriptor(GVariant* reply, GUnixFDList* fds);

}  // namespace platform::linuxpc
