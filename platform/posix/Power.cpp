// Keeping the PC awake on Linux: the requests are counted, so the simulated machine can show
// when the program asked. A real PC's session manager is not told yet (docs/linux.md).
#include "platform/Power.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<int> held{0};
}  // namespace

KeepAwake::KeepAwake() { ++held; }
KeepAwake::~KeepAwake() { --held; }
int AwakeRequests() { return held.load(); }

}  // namespace platform
