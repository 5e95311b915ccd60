// navisim: creates and changes the simulated PC and its navigation unit.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "NaviSim.h"
#include "platform/sim/Machine.h"
#include "platform/sim/Removal.h"

namespace {

constexpr char kUsage[] =
    "usage: navisim [--machine DIR] COMMAND [ARGS]\n"
    "Changes the simulated PC in DIR (default $VELTRANE_MACHINE, else ~/.local/share/veltrane/machine).\n"
    "Every change rewrites machine.ini, which the program sees as a device change.\n"
    "\n"
    "  init [--cd]                      a fresh PC: C: fixed disk, Z: the native root, D: a CD drive with --cd\n"
    "  create-unit [options]            a navigation unit, plugged in unless --unplugged\n"
    "      --name NAME                  key of the unit (default navi)\n"
    "      --device-id TEXT             DEVICE.DAT (default VT0000000001)\n"
    "      --version YYYY.MMDD          CURRVER.DAT, enciphered (default 2010.0601)\n"
    "      --version-name TEXT          MAP.VER, at most 12 bytes in CP932 (default 2010年春版)\n"
    "      --image-size BYTES           raw volume size, whole sectors (default 1048576)\n"
    "      --letter L                   drive letter when free (default E)\n"
    "      --friendly-name TEXT         device friendly name (default the model's)\n"
    "      --bus USB|SD|SATA|...        the bus its disk is on (default USB)\n"
    "      --sector-size BYTES          its disk's logical sector size (default 512)\n"
    "      --unplugged                  leave it unplugged\n"
    "  plug NAME                        plug the unit in: it re-creates its identity files, and after a\n"
    "                                   completed transfer takes the update's version\n"
    "  unplug NAME                      pull it out: device, volume and letter go\n"
    "  drop-letter NAME                 the unit's volume stays, its drive letter goes\n"
    "  power battery PERCENT | ac       the PC runs on its battery at PERCENT, or on mains power\n"
    "  eject NAME                       the user's \"safely remove\": the program holding the unit's volume\n"
    "                                   is asked (up to 10 s); prints removed, refused or in use.\n"
    "                                   Exit status 1 when the unit stays\n"
    "  process add|remove IMAGE         start or end a process such as wmplayer.exe\n"
    "  fault NAME [options]             faults of the unit's raw volume (replaces the earlier ones)\n"
    "      --write-fail SECTOR[:N]      writes covering SECTOR fail, N times or for good\n"
    "      --short-write SECTOR[:N]     writes covering SECTOR stop before it, N times or for good\n"
    "      --lock-refused               FSCTL_LOCK_VOLUME fails\n"
    "      --vanish-after BYTES         the unit is pulled out once BYTES have been written\n"
    "      --power-cut-after BYTES      the unit loses power at the write past BYTES: the writes\n"
    "                                   since its last flush are lost, and it is gone\n"
    "      --clear                      no faults\n"
    "  check NAME [--image FILE]        compare the volume with an image; boot signatures; files under\n"
    "                                   UPDATE. Exit status 1 when the image differs\n"
    "  --help                           this text\n";

unsigned long long Number(const std::string& text) {
    size_t used = 0;
    unsigned long long value = std::stoull(text, &used, 0);
    if (used != text.size()) throw std::invalid_argument("not a number: " + text);
    return value;
}

// "SECTOR" or "SECTOR:N".
void SectorAndAttempts(const std::string& text, std::optional<uint64_t>* sector, int* attempts) {
    size_t colon = text.find(':');
    *sector = Number(text.substr(0, colon));
    *attempts = colon == std::string::npos ? -1 : static_cast<int>(Number(text.substr(colon + 1)));
}

class Arguments {
public:
    Arguments(int argc, char** argv) : args_(argv + 1, argv + argc) {}
    bool Empty() const { return next_ >= args_.size(); }
    std::string Next(const char* what) {
        if (Empty()) throw std::invalid_argument(std::string("missing ") + what);
        return args_[next_++];
    }
    bool Take(const char* flag) {
        if (Empty() || args_[next_] != flag) return false;
        ++next_;
        return true;
    }

private:
    std::vector<std::string> args_;
    size_t next_ = 0;
};

int CreateUnit(Arguments& args) {
    navisim::UnitOptions options;
    while (!args.Empty()) {
        std::string option = args.Next("option");
        if (option == "--unplugged") {
            options.plugged = false;
            continue;
        }
        std::string value = args.Next(option.c_str());
        if (option == "--name")
            options.name = value;
        else if (option == "--device-id")
            options.deviceId = value;
        else if (option == "--version")
            options.version = value;
        else if (option == "--version-name")
            options.versionName = value;
        else if (option == "--image-size")
            options.imageSize = Number(value);
        else if (option == "--letter" && value.size() == 1)
            options.letter = static_cast<char>(std::toupper(value[0]));
        else if (option == "--friendly-name")
            options.friendlyName = value;
        else if (option == "--bus")
            options.bus = value;
        else if (option == "--sector-size")
            options.sectorSize = static_cast<uint32_t>(std::min<unsigned long long>(Number(value), UINT32_MAX));
        else
            throw std::invalid_argument("unknown option " + option);
    }
    navisim::CreateUnit(options);
    return 0;
}

int Fault(Arguments& args) {
    std::string unit = args.Next("unit");
    navisim::Faults faults;
    while (!args.Empty()) {
        std::string option = args.Next("option");
        if (option == "--clear") {
            navisim::ClearFaults(unit);
            return 0;
        }
        if (option == "--lock-refused")
            faults.lockRefused = true;
        else if (option == "--write-fail")
            SectorAndAttempts(args.Next("sector"), &faults.writeFailSector, &faults.writeFailAttempts);
        else if (option == "--short-write")
            SectorAndAttempts(args.Next("sector"), &faults.shortWriteSector, &faults.shortWriteAttempts);
        else if (option == "--vanish-after")
            faults.vanishAfterBytes = Number(args.Next("bytes"));
        else if (option == "--power-cut-after")
            faults.powerCutAfterBytes = Number(args.Next("bytes"));
        else
            throw std::invalid_argument("unknown option " + option);
    }
    navisim::SetFaults(unit, faults);
    return 0;
}

int Check(Arguments& args) {
    std::string unit = args.Next("unit");
    std::optional<std::filesystem::path> image;
    if (args.Take("--image")) image = args.Next("image file");
    navisim::CheckReport report = navisim::Check(unit, image);
    std::fputs(navisim::Describe(report).c_str(), stdout);
    return report.imageCompared && !report.imageMatches ? 1 : 0;
}

int Power(Arguments& args) {
    const std::string source = args.Next("battery or ac");
    if (source == "ac") {
        navisim::SetBattery(std::nullopt);
    } else if (source == "battery") {
        navisim::SetBattery(std::stoi(args.Next("percent")));
    } else {
        throw std::invalid_argument("power takes battery PERCENT or ac, not " + source);
    }
    return 0;
}

int Eject(Arguments& args) {
    const std::string answer = navisim::RequestRemoval(args.Next("unit"), 10000);
    std::printf("%s\n", answer.c_str());
    return answer == platform::kRemovalRemoved ? 0 : 1;
}

int Run(Arguments& args) {
    if (args.Take("--machine")) platform::SetMachineFolder(std::filesystem::absolute(args.Next("folder")).string());
    std::string command = args.Next("command");
    if (command == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "init") {
        navisim::InitMachine(platform::MachineFolder(), args.Take("--cd"));
        return 0;
    }
    if (command == "create-unit") return CreateUnit(args);
    if (command == "plug")
        navisim::Plug(args.Next("unit"));
    else if (command == "unplug")
        navisim::Unplug(args.Next("unit"));
    else if (command == "drop-letter")
        navisim::DropLetter(args.Next("unit"));
    else if (command == "power")
        return Power(args);
    else if (command == "eject")
        return Eject(args);
    else if (command == "fault")
        return Fault(args);
    else if (command == "check")
        return Check(args);
    else if (command == "process") {
        std::string action = args.Next("add or remove");
        std::string image = args.Next("image name");
        if (action == "add") {
            std::printf("%u\n", navisim::AddProcess(image));
        } else if (action != "remove" || !navisim::RemoveProcess(image)) {
            throw std::invalid_argument(action == "remove" ? "no process " + image : "process add|remove IMAGE");
        }
    } else {
        throw std::invalid_argument("unknown command " + command);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args(argc, argv);
    try {
        return Run(args);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "navisim: %s\n(navisim --help shows the commands)\n", error.what());
        return 2;
    }
}
