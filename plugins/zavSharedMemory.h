// TfisSharedMemory: the named block through which the player hands its
// visualisation data to a separate program, and the notification that tells
// that program what was written. The block and the mutex are private to the
// user (platform/win/SharedMemory.h); the program is found by the title of
// its window (platform/win/RemoteMessages.h).
//
// GUI thread only. The mutex exists for readers that want it; the writer
// never acquires it, so a reader may find the next frame half written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win/Messages.h"

namespace win {
class SharedMemory;
class NamedMutex;
}  // namespace win

class TfisSharedMemory {
  public:
    TfisSharedMemory();
    ~TfisSharedMemory();
    TfisSharedMemory(const TfisSharedMemory&) = delete;
    TfisSharedMemory& operator=(const TfisSharedMemory&) = delete;

    // Published properties.
    const std::string& ShareName() const { return FShareName; }
    void SetShareName(const std::string& value) { FShareName = value; }
    int32_t Size() const { return FSize; }
    void SetSize(int32_t value) { FSize = value; }
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value) { FReadOnly = value; }
    const std::string& TargetApplication() const { return FTargetApplication; }
    // Trims the value; a non-empty one is looked up at once.
    void SetTargetApplication(const std::string& value);
    bool MsgOutOnErr() const { return FMsgOutOnErr; }
    void SetMsgOutOnErr(bool value) { FMsgOutOnErr = value; }
    int32_t Timeout() const { return FTimeout; }
    void SetTimeout(int32_t value) { FTimeout = value; }

    // False when a mapping was already held, or when the block or its mutex
    // cannot be made (another running player has the name).
    bool CreateSharedMemory();
    void* MapSharedMemory();
    bool UnmapSharedMemory(void* view);
    bool CloseSharedMemory();
    // Posts "WM_SendingData" (wParam, lParam) to the target program's window.
    void PostToTarget(win::WPARAM wParam, win::LPARAM lParam);

    unsigned SendingDataMessage() const { return FSendingData; }
    // Registered as well; nothing sends or handles it.
    unsigned RequestingDataMessage() const { return FRequestingData; }
    win::HWND TargetWindow() const { return FTargetWindow; }

  private:
    void FindTarget();

    std::string FShareName;
    int32_t FSize = 0;
    bool FReadOnly = false;
    std::string FTargetApplication;
    bool FMsgOutOnErr = false;
    int32_t FTimeout = -1;

    std::unique_ptr<win::SharedMemory> FMapping;
    std::unique_ptr<win::NamedMutex> FMutex;
    win::HWND FTargetWindow = 0;
    unsigned FSendingData = 0;
    unsigned FRequestingData = 0;
};
