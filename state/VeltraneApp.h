// The one application object: settings and paths, the bound library entry points, the job
// handles and the state that the window and the worker jobs share.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "state/MessageCatalogue.h"
#include "state/NaviUnitState.h"
#include "base/ThreadHandle.h"
#include "decode/DecodeApi.h"
#include "platform/Internet.h"
#include "platform/Library.h"
#include "sha512/Sha512Api.h"

class CVeltraneApp {
public:
    // The start-up sequence; false when the program is to end (the window closed, or a second
    // copy), true after a fatal start-up message.
    bool InitInstance();

    // Empties every field and sets the built-in service endpoint.
    void ResetState();
    void ReadPaths();
    int ReadSettings();
    int ReadOwnVersion();
    int BindLibraries();

    std::string ProgramFolder;
    std::string MessageIniPath;
    std::string SettingsIniPath;
    std::string OwnVersion;
    std::string ProductNumber;
    std::string DeviceNumber;
    std::string MapFolder;
    std::string ExternalInterfaceUrl;
    int32_t LineSpeed = 0;
    std::string HistoryIniPath;
    std::string ServiceUrl;
    // The internet session of the whole program: kept connections and proxy credentials.
    platform::InternetSession Internet;

    platform::HMODULE DecodeLibrary = nullptr;
    DecodeExFn pDecodeEx = nullptr;
    platform::HMODULE Sha512Library = nullptr;
    CreateAlgorithmFn pCreateAlgorithm = nullptr;
    DestroyAlgorithmFn pDestroyAlgorithm = nullptr;
    InitAlgorithmFn pInitAlgorithm = nullptr;
    InputDataFn pInputData = nullptr;
    GetHashLengthFn pGetHashLength = nullptr;
    GetHashFn pGetHash = nullptr;

    ThreadHandle DownloadThreadHandle;
    // The line test a download's start runs before its thread: part of the download for
    // whoever waits for it.
    ThreadHandle LineTestThreadHandle;
    ThreadHandle TransferThreadHandle;
    ThreadHandle DeleteThreadHandle;
    std::atomic<int32_t> ExitRequested{0};

    // Download progress: written by the download thread, read by the window; relaxed, since
    // each value stands alone. PauseRequested is the window's stop request (1 = stop).
    std::atomic<int32_t> PauseRequested{0};
    std::atomic<int32_t> DownloadPercent{0};
    std::atomic<double> DownloadedBytes{0};
    std::atomic<double> MapSizeGB{0};

    // Transfer progress and flags: written by the transfer job, read by the window's timers.
    std::string TransferMapName;     // the download name of the running transfer
    std::string TransferDataFolder;  // the map folder that holds that download's folder
    std::atomic<int32_t> ImageCopyActive{0};
    std::atomic<int32_t> TransferPercent{0};
    std::atomic<double> TransferredBytes{0};
    std::atomic<int32_t> TransferRemainMinutes{0};
    std::atomic<int32_t> TransferAnimation{0};
    std::atomic<int32_t> DownloadMinutesLeft{0};
    // The version of the set whose transfer last completed in this run (the window's thread).
    std::string TransferredSet;

    // The offered map update, from the download start request.
    std::string OfferName;

    // The navigation unit (discovery, raw access and letter recovery).
    NaviUnitState Navi;

    MessageCatalogue Messages;
};

extern CVeltraneApp theApp;

// The endpoint every web-service request uses unless Veltrane.ini names another.
inline constexpr char kBuiltInServiceUrl[] = "https://updates.veltrane.jp/map-dl";
