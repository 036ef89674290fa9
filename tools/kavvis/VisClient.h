// The visualiser's end of the link: publishes the window the player posts to
// (titled "DozOvo"), attaches to a running player with '<', asks for the
// three records, reads each notification's frame or record from the block,
// and detaches with 'F'. While no player runs it retries every second.
// GUI thread only.
#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/win/Messages.h"

namespace win {
class SharedMemory;
}

class VisClient : public QObject {
  public:
    VisClient();
    ~VisClient() override;

    // False when another visualiser already has the title.
    bool Start();
    void Detach();
    bool Attached() const { return player_ != 0; }

    // Called with the block after each notification: what (10 frame, 80
    // record) and bytes as the player posted them.
    std::function<void(const uint8_t* block, uintptr_t what, intptr_t bytes)> OnNotice;
    // Called when a player is found or lost.
    std::function<void(bool attached)> OnAttached;

  private:
    void TryAttach();
    void AskNextRecord();
    win::LRESULT Receive(const win::Message& m);

    unsigned link_;
    win::HWND window_ = 0;
    win::HWND player_ = 0;
    std::unique_ptr<win::SharedMemory> block_;
    const uint8_t* view_ = nullptr;
    QTimer retry_;
    int nextRecord_ = 0;
};
