#include "tools/kavvis/VisClient.h"

#include "platform/win/RemoteMessages.h"
#include "platform/win/SharedMemory.h"
#include "plugins/VisBlock.h"

namespace {

const char* const kPlayer = "zavSharedMemory1";
const char* const kTitle = "DozOvo";
constexpr int kRetryMs = 1000;
// The records are asked for one at a time: each is written from the start
// of the block, so a second answer could overwrite the first before it is read.
constexpr int kRecordSpacingMs = 120;

}  // namespace

VisClient::VisClient() : link_(win::RegisterWindowMessage("WM_SendingData")) {
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, [this] { TryAttach(); });
}

VisClient::~VisClient() {
    Detach();
    win::UnpublishWindow(window_);
    win::DestroyMessageWindow(window_);
    if (view_) win::SharedMemory::Unmap(const_cast<uint8_t*>(view_), vis::kBlockSize);
}

bool VisClient::Start() {
    window_ = win::CreateMessageWindow([this](const win::Message& m) { return Receive(m); });
    if (!win::PublishWindow(window_, kTitle)) return false;
    retry_.start();
    TryAttach();
    return true;
}

// A player that has quit (or died) is noticed here too, and looked for again.
void VisClient::TryAttach() {
    if (player_ != 0) {
        if (win::IsRemoteWindow(player_)) return;
        win::ForgetRemoteWindow(player_);
        player_ = 0;
        if (OnAttached) OnAttached(false);
    }
    const win::HWND player = win::FindWindowByTitle(kPlayer);
    if (player == 0) return;
    // Each player makes its block anew: map the one of this player.
    if (view_) win::SharedMemory::Unmap(const_cast<uint8_t*>(view_), vis::kBlockSize);
    view_ = nullptr;
    block_ = win::SharedMemory::Open(kPlayer, vis::kBlockSize, true);
    if (block_) view_ = static_cast<const uint8_t*>(block_->Map(true));
    if (!view_ || !win::PostRemoteMessage(player, link_, vis::kAttach, 1)) {
        win::ForgetRemoteWindow(player);
        return;
    }
    player_ = player;
    if (OnAttached) OnAttached(true);
    nextRecord_ = 1;
    AskNextRecord();
}

void VisClient::AskNextRecord() {
    if (player_ == 0 || nextRecord_ < 1 || nextRecord_ > 3) return;
    win::PostRemoteMessage(player_, link_, vis::kAskRecord, nextRecord_++);
    QTimer::singleShot(kRecordSpacingMs, this, [this] { AskNextRecord(); });
}

void VisClient::Detach() {
    if (player_ == 0) return;
    win::PostRemoteMessage(player_, link_, vis::kDetach, 0);
    win::ForgetRemoteWindow(player_);
    player_ = 0;
}

win::LRESULT VisClient::Receive(const win::Message& m) {
    if (m.msg == link_ && view_ && player_ != 0 && OnNotice) OnNotice(view_, m.wParam, m.lParam);
    return 0;
}
