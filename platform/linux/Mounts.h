// The mounts of the real PC as the kernel lists them in /proc/self/mountinfo.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform::linuxpc {

// The mount points of the block device `device` (its st_rdev), most recent mount last.
std::vector<std::string> MountPointsOf(dev_t device);

}  // namespace platform::linuxpc
