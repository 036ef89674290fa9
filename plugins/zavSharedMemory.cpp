#include "plugins/zavSharedMemory.h"

#include "platform/win/MessageBox.h"
#include "platform/win/NamedMutex.h"
#include "platform/win/RemoteMessages.h"
#include "platform/win/SharedMemory.h"

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

TfisSharedMemory::TfisSharedMemory()
    : FSendingData(win::RegisterWindowMessage("WM_SendingData")),
      FRequestingData(win::RegisterWindowMessage("WM_RequestingData")) {}

TfisSharedMemory::~TfisSharedMemory() {
    CloseSharedMemory();
    win::ForgetRemoteWindow(FTargetWindow);
}

void TfisSharedMemory::SetTargetApplication(const std::string& value) {
    FTargetApplication = Trimmed(value);
    if (!FTargetApplication.empty()) FindTarget();
}

void TfisSharedMemory::FindTarget() {
    win::ForgetRemoteWindow(FTargetWindow);
    FTargetWindow = win::FindWindowByTitle(FTargetApplication);
}

bool TfisSharedMemory::CreateSharedMemory() {
    bool result = !FMapping;
    win::SharedMemory::Created how;
    FMapping =
        win::SharedMemory::Create(FShareName, static_cast<std::size_t>(FSize > 0 ? FSize : 0), how);
    if (!FMapping) {
        CloseSharedMemory();
        return false;
    }
    FMutex = win::NamedMutex::Create(FShareName + "_SMMutex");
    if (!FMutex) {
        CloseSharedMemory();
        return false;
    }
    return result;
}

void* TfisSharedMemory::MapSharedMemory() {
    return FMapping ? FMapping->Map(FReadOnly) : nullptr;
}

bool TfisSharedMemory::UnmapSharedMemory(void* view) {
    if (!FMapping) return false;
    win::SharedMemory::Unmap(view, FMapping->Size());
    return true;
}

bool TfisSharedMemory::CloseSharedMemory() {
    FMutex.reset();
    FMapping.reset();
    return true;
}

void TfisSharedMemory::PostToTarget(win::WPARAM wParam, win::LPARAM lParam) {
    if (!FMutex) return;
    if (FTargetWindow == 0 && !FTargetApplication.empty()) FindTarget();
    if (FTargetWindow != 0 && win::IsRemoteWindow(FTargetWindow)) {
        win::PostRemoteMessage(FTargetWindow, FSendingData, wParam, lParam);
        return;
    }
    if (!FMsgOutOnErr) return;
    const char* text = FTargetWindow != 0 ? "The target application is not active on your system.\n"
                                            "The notification message has not been sent."
                                          : "The target application is not specified.\n"
                                            "The notification message has not been sent.";
    win::MessageBox(0, text, "Warning...", win::MB_ICONWARNING);
}
