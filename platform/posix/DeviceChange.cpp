// The device-change watcher over the watch of the PC in use (platform/posix/MachineSource.h),
// made when the watcher is made, and the removals the user asked for.
#include "platform/DeviceChange.h"

#include "platform/posix/MachineSource.h"

namespace platform {

DeviceChangeWatcher::DeviceChangeWatcher() : watch_(CurrentMachine().WatchChanges()) { fd_ = watch_->Fd(); }

DeviceChangeWatcher::~DeviceChangeWatcher() = default;

bool DeviceChangeWatcher::Consume() { return watch_->Consume(); }

void AnswerRemovalRequests(const RemovalReceiver& receiver) { CurrentMachine().AnswerRemovalRequests(receiver); }

}  // namespace platform
