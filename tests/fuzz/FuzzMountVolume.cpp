// MountVolume.dat as found in the program folder, whatever it holds: recording a volume keeps
// what was there and adds the volume exactly when it is not yet listed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzWorld.h"
#include "device/NaviFunction.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FuzzWorld& world = FuzzWorld::Get();
    const size_t nameLength = std::min<size_t>(data[0] % 64, size - 1);
    std::string name(reinterpret_cast<const char*>(data + 1), nameLength);
    name = name.c_str();  // a volume name is text
    const std::string old(reinterpret_cast<const char*>(data + 1 + nameLength), size - 1 - nameLength);
    const auto folder = world.root / "program";
    FuzzWorld::Put(folder, "MountVolume.dat", old);
    theApp.ProgramFolder = world.Win(folder) + "\\";
    theApp.Navi.NaviVolumeName = name;

    if (RecordMountVolume() != 0) return 0;
    std::ifstream in(folder / "MountVolume.dat", std::ios::binary);
    const std::string now(std::istreambuf_iterator<char>(in), {});
    const std::string expected = old.empty()                           ? name + "\r\n"
                                 : old.find(name) != std::string::npos ? old
                                                                       : std::string(old.c_str()) + name + "\r\n";
    if (now != expected) abort();
    return 0;
}
