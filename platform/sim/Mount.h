// The mounted file system of a simulated volume. Windows' FAT driver keeps its in-memory state
// (free-cluster map, directory entries) until the volume is dismounted: a raw write under a
// mounted volume leaves that state stale, and files written through the drive afterwards land
// on clusters the old map thought free, inside whatever the raw write put there.
// "[Volume <id>] StaleMount=1" in machine.ini marks such a mount until a dismount, a format or
// the volume's removal.
#pragma once

#include <string>

namespace platform {

// A raw write reached the volume while its file system stayed mounted. True when the mark is
// set (or was set already).
bool MarkMountStale(const std::string& volumeId);
// The volume was dismounted or formatted: the next access mounts what is on the disk.
void ClearStaleMount(const std::string& volumeId);
// A file was just written at nativePath through a drive: under a stale mount its bytes also
// land in the volume's raw image, from the old map's first free cluster on.
void WriteThroughStaleMount(const std::string& nativePath);

}  // namespace platform
