// The ids of the program's windows, controls, menu items, icons and timers, as its dialog
// resources number them.
#pragma once

#include <cstdint>

namespace ids {

// Windows (dialog resources).
constexpr int kMainWindow = 103;
constexpr int kConfirmationDialog = 146;  // CDialogNaviConfiramation
constexpr int kConnectionDialog = 174;    // CDialogSubNavi
constexpr int kVersionDialog = 175;       // CDialogNaviVersion
constexpr int kWatcherDialog = 176;       // the hidden device-change watcher
constexpr int kExitDialog = 209;          // CDialogExet
constexpr int kProcessDialog = 210;       // CDialogProcess

// Controls of the main window.
constexpr int kServerArea = 1055;
constexpr int kDownloadButton = 1014;
constexpr int kDriveText = 1015;
constexpr int kFreeSpaceText = 1011;
constexpr int kDownloadBusyIcon = 1027;
constexpr int kDownloadTimeText = 1025;
constexpr int kPcArea = 1001;
constexpr int kTransferButton = 1013;
constexpr int kDeleteButton = 1012;
constexpr int kRemoveButton = 1072;
constexpr int kConnectionText = 1028;
constexpr int kTransferBusyIcon = 1033;
constexpr int kTransferTimeText = 1032;
constexpr int kNaviArea = 1071;
constexpr int kStatusLine = 1082;
constexpr int kShopLink = 1074;
constexpr int kBanner = 1076;
constexpr int kEnterButton = 1077;

// Menu items of the main window.
constexpr uint32_t kMenuHelp = 32776;
constexpr uint32_t kMenuFolder = 32779;
constexpr uint32_t kMenuExit = 32780;
constexpr uint32_t kMenuInquiry = 32786;
constexpr uint32_t kMenuRecovery = 32788;
constexpr uint32_t kMenuVersion = 32789;
constexpr uint32_t kMenuRecognise = 32793;
constexpr uint32_t kMenuSupportReport = 32795;

// Controls of the small dialogs.
constexpr int kConfirmHeading = 1019;
constexpr int kConfirmCable = 1020;
constexpr int kConfirmPower = 1021;
constexpr int kConfirmConnected = 1022;
constexpr int kConfirmQuestion = 1024;
constexpr int kConfirmFormatStep = 1026;
constexpr int kConnectionInfoText = 1032;
constexpr int kConnectionStateText = 1060;

// Icons and bitmaps.
constexpr int kWindowIcon = 128;
constexpr int kBannerBitmap = 181;
// The main window's painted strips: the footer and the headings of its areas and status line.
constexpr int kFooterBitmap = 203;
constexpr int kServerHeadingBitmap = 198;
constexpr int kPcHeadingBitmap = 200;
constexpr int kNaviHeadingBitmap = 199;
constexpr int kStatusHeadingBitmap = 201;
constexpr int kBusyFrames[4] = {187, 188, 189, 190};
constexpr int kIconStartEnabled = 204;
constexpr int kIconStartDisabled = 195;
constexpr int kIconPause = 206;
constexpr int kIconResumeEnabled = 207;
constexpr int kIconResumeDisabled = 208;

}  // namespace ids
