// The five small dialogs and the hidden watcher that turns device changes into code 1.
#pragma once

#include <cstdint>
#include <string>

#include "platform/View.h"
#include "state/ResourceIds.h"

// Base of the modal dialogs whose buttons only end them.
class CSimpleDialog : public platform::ViewHandler {
public:
    explicit CSimpleDialog(int window) : window_(window) {}
    // Runs the dialog modally: IDOK or IDCANCEL.
    int DoModal();
    void OnNotify(uintptr_t, intptr_t) override {}
    void OnTimer(uint32_t) override {}
    void OnCommand(uint32_t id) override;

protected:
    int window_;
};

// The pre-transfer confirmation (mode 1) and the recovery confirmation (any other mode).
class CDialogNaviConfiramation : public CSimpleDialog {
public:
    CDialogNaviConfiramation() : CSimpleDialog(ids::kConfirmationDialog) {}
    void OnInitDialog() override;
    int Mode = 1;
    std::string MapName;
};

class CDialogNaviVersion : public CSimpleDialog {
public:
    CDialogNaviVersion() : CSimpleDialog(ids::kVersionDialog) {}
};

class CDialogExet : public CSimpleDialog {
public:
    CDialogExet() : CSimpleDialog(ids::kExitDialog) {}
};

class CDialogProcess : public CSimpleDialog {
public:
    CDialogProcess() : CSimpleDialog(ids::kProcessDialog) {}
};

// The hidden watcher (resource 176): every device change becomes code 1 for its owner.
class CDialogDeviceWatch : public platform::ViewHandler {
public:
    explicit CDialogDeviceWatch(int owner) : owner_(owner) {}
    // False when the window could not be created.
    bool Create();
    void Destroy();
    void OnNotify(uintptr_t, intptr_t) override {}
    void OnTimer(uint32_t) override {}
    void OnCommand(uint32_t) override {}
    void OnDeviceChange() override;

private:
    int owner_;
    bool created_ = false;
};

// The connection information before the main window: its state line follows every plug and
// unplug while it is open.
class CDialogSubNavi : public CSimpleDialog {
public:
    CDialogSubNavi();
    ~CDialogSubNavi() override;
    void OnInitDialog() override;
    void OnNotify(uintptr_t wParam, intptr_t lParam) override;

private:
    CDialogDeviceWatch watcher_;
};
