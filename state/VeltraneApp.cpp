// The application object's set-up: its state reset, the paths and settings from Veltrane.ini,
// the program's own version and the entry points bound from the libraries.
#include "state/VeltraneApp.h"

#include <cstdlib>
#include <optional>
#include <vector>

#include "base/Logger.h"
#include "base/Text.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Internet.h"
#include "platform/Profile.h"
#include "platform/Version.h"

CVeltraneApp theApp;

namespace {

static constexpr char kLogSource[] = ".\\veltrane";

std::string ReadSetting(const std::string& iniPath, const char* key) {
    char buffer[512] = {};
    platform::GetPrivateProfileStringA("VELTRANE", key, "", buffer, sizeof buffer, iniPath.c_str());
    return buffer;
}

template <class Fn>
bool Bind(platform::HMODULE library, const char* name, Fn& entry) {
    entry = reinterpret_cast<Fn>(platform::GetProcAddress(library, name));
    return entry != nullptr;
}

}  // namespace

void CVeltraneApp::ResetState() {
    for (std::string* text :
         {&ProgramFolder, &MessageIniPath, &SettingsIniPath, &OwnVersion, &ProductNumber, &DeviceNumber, &MapFolder,
          &ExternalInterfaceUrl, &HistoryIniPath, &OfferName, &TransferMapName, &TransferDataFolder, &TransferredSet})
        text->clear();
    LineSpeed = 0;
    ExitRequested = 0;
    PauseRequested = 0;
    DownloadPercent = 0;
    DownloadedBytes = 0;
    MapSizeGB = 0;
    ImageCopyActive = 0;
    TransferPercent = 0;
    TransferredBytes = 0;
    TransferRemainMinutes = 0;
    TransferAnimation = 0;
    DownloadMinutesLeft = 0;
    Navi.Reset();
    Internet.Reset();
    ServiceUrl = kBuiltInServiceUrl;
}

void CVeltraneApp::ReadPaths() {
    ResetState();
    char module[260] = {};
    if (platform::GetModuleFileNameA(module, sizeof module) != 0) {
        // Drive and directory: everything up to the last backslash.
        std::string path = module;
        ProgramFolder = path.substr(0, platform::FindLastChar(path, '\\') + 1);
    }
    MessageIniPath = ProgramFolder + "Message.ini";
    ReadSettings();
    ProductNumber = ReadSetting(SettingsIniPath, "PRODUCT_NUMBER");
    DeviceNumber = ReadSetting(SettingsIniPath, "DEVICE_NUMBER");
    ExternalInterfaceUrl = ReadSetting(SettingsIniPath, "EXTERNAL_INTERFACE_URL");
    LineSpeed = atoi(ReadSetting(SettingsIniPath, "LINE_SPEED").c_str());
    MapFolder = ReadSetting(SettingsIniPath, "MAPFOLDER");
    HistoryIniPath = MapFolder + "\\" + "History.ini";
    // A configured endpoint (a test service, a staging server) replaces the built-in one.
    if (!ExternalInterfaceUrl.empty()) ServiceUrl = ExternalInterfaceUrl;
    VLOG(LOG_INFO, "設定[%s] VERSION[%s] MAPFOLDER[%s] URL[%s]", SettingsIniPath.c_str(), OwnVersion.c_str(),
         MapFolder.c_str(), ServiceUrl.c_str());
    // A plain service (a local test service) is the administrator's choice; its offer and the
    // digests in its description are then anybody's on the line.
    std::optional<platform::UrlParts> url = platform::CrackUrl(ServiceUrl);
    if (!url || !platform::IsSecureUrl(*url))
        VLOG(LOG_ERROR, "警告：サービスURLがHTTPSではありません。通信と地図データのハッシュ値は検証されません[%s]",
             ServiceUrl.c_str());
}

int CVeltraneApp::ReadSettings() {
    SettingsIniPath = ProgramFolder + "Veltrane.ini";
    OwnVersion = ReadSetting(SettingsIniPath, "VERSION");
    ReadOwnVersion();
    return 1;
}

int CVeltraneApp::ReadOwnVersion() {
    std::string fileName = Format("%sVeltrane.exe", ProgramFolder.c_str());
    uint32_t size = platform::GetFileVersionInfoSizeA(fileName.c_str());
    if (size == 0) return 0;
    std::vector<char> block(size);
    void* value = nullptr;
    uint32_t length = 0;
    if (!platform::GetFileVersionInfoA(fileName.c_str(), size, block.data()) ||
        !platform::VerQueryValueA(block.data(), "\\StringFileInfo\\041103a4\\FileVersion", &value, &length))
        return 0;
    std::string numbers[3];
    int current = 0;
    for (const char* c = static_cast<const char*>(value); *c && current < 3; ++c) {
        if (*c == '.')
            ++current;
        else
            numbers[current] += *c;
    }
    OwnVersion = Format("%02d%03d%03d", atoi(numbers[0].c_str()), atoi(numbers[1].c_str()), atoi(numbers[2].c_str()));
    // The program goes on with the version it computed; the file's copy is for support to read.
    (void)platform::WritePrivateProfileStringA("VELTRANE", "VERSION", OwnVersion.c_str(), SettingsIniPath.c_str());
    return 1;
}

int CVeltraneApp::BindLibraries() {
    VLOG(LOG_TRACE, "BindLibraries開始");
    DecodeLibrary = platform::LoadLibraryA("Decode.dll");
    if (DecodeLibrary && !Bind(DecodeLibrary, "DecodeEx", pDecodeEx)) {
        (void)platform::FreeLibrary(DecodeLibrary);  // dropped either way: the entry point is missing
        DecodeLibrary = nullptr;
    }
    Sha512Library = platform::LoadLibraryA("sha512.dll");
    if (Sha512Library &&
        !(Bind(Sha512Library, "CreateAlgorithm", pCreateAlgorithm) &&
          Bind(Sha512Library, "DestroyAlgorithm", pDestroyAlgorithm) &&
          Bind(Sha512Library, "InitAlgorithm", pInitAlgorithm) && Bind(Sha512Library, "InputData", pInputData) &&
          Bind(Sha512Library, "GetHashLength", pGetHashLength) && Bind(Sha512Library, "GetHash", pGetHash))) {
        (void)platform::FreeLibrary(Sha512Library);  // dropped either way: an entry point is missing
        Sha512Library = nullptr;
    }
    int bound = DecodeLibrary && Sha512Library ? 1 : 0;
    if (!bound) VLOG(LOG_ERROR, "ライブラリ読込エラー[%d]", bound);
    VLOG(LOG_TRACE, "BindLibraries終了");
    return bound;
}
