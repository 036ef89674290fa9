// The engine's end of the visualisation link: the shared block made at
// start-up, the records sent at the state changes, and the data frame of
// each PlayerTimer tick while a visualiser is attached. GUI thread only.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/BASSPlayer.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/RemoteMessages.h"
#include "plugins/AppExec.h"
#include "plugins/VisBlock.h"
#include "plugins/zavSharedMemory.h"

namespace {

const char* const kShareName = "zavSharedMemory1";
const char* const kVisualiser = "DozOvo";
constexpr int kFftBinsPerChannel = 1024;

}  // namespace

void TBASSPlayer::CreateVisLink() {
    FAppExec = std::make_unique<TAppExec>();
    FSharedMemory = std::make_unique<TfisSharedMemory>();
    FSharedMemory->SetShareName(kShareName);
    FSharedMemory->SetSize(static_cast<int32_t>(vis::kBlockSize));
    FSharedMemory->SetTargetApplication(kVisualiser);
    FLinkMessage = FSharedMemory->SendingDataMessage();
    if (!FSharedMemory->CreateSharedMemory()) return;  // another player has the link
    FSharedView = static_cast<uint8_t*>(FSharedMemory->MapSharedMemory());
    // Visualisers reach this window under the block's name.
    win::PublishWindow(FMessageWindow, kShareName);
}

void TBASSPlayer::FreeVisLink() {
    FAppExec.reset();
    if (!FSharedMemory) return;
    win::UnpublishWindow(FMessageWindow);
    if (FSharedView) FSharedMemory->UnmapSharedMemory(FSharedView);
    FSharedView = nullptr;
    FSharedMemory->CloseSharedMemory();
    FSharedMemory.reset();
}

void TBASSPlayer::AttachVis() {
    if (!FSharedMemory) return;
    FSharedMemory->SetTargetApplication(kVisualiser);  // the visualiser may have restarted
    FVisActive = true;
}

void TBASSPlayer::SendVisRecord(int type) {
    if (!FVisActive || !FSharedView) return;
    FPlayerTimer.SetEnabled(false);
    std::size_t size = 0;
    const TStreamInfo& s = FStreamInfo;
    if (type == 1) size = vis::WriteStateRecord(FSharedView, FPlayState);
    if (type == 2)
        size = vis::WriteStreamRecord(FSharedView, s.SampleRate, s.BitRate, s.Channels,
                                      static_cast<int32_t>(s.Duration), s.Title);
    if (type == 3) size = vis::WriteSyncRecord(FSharedView, FSyncVisWindow);
    if (size != 0) FSharedMemory->PostToTarget(vis::kRecordWritten, static_cast<win::LPARAM>(size));
    FPlayerTimer.SetEnabled(true);
}

// The buffers are sized for the channel's real channel count, which may be
// more than the two the block has room for.
void TBASSPlayer::SendVisFrame() {
    if (!FSharedView) return;
    BASS_CHANNELINFO info{};
    const int channels =
        BASS_ChannelGetInfo(FChannelHandle, &info) ? std::max<int>(1, info.chans) : 2;
    const bool mono = FStreamInfo.Channels == 1;
    std::vector<float> fft(static_cast<std::size_t>(kFftBinsPerChannel) * channels, 0.0f);
    BASS_ChannelGetData(FChannelHandle, fft.data(),
                        mono ? BASS_DATA_FFT2048 : BASS_DATA_FFT2048_INDIVIDUAL);
    std::vector<int16_t> pcm(static_cast<std::size_t>(vis::kSamples) * channels, 0);
    BASS_ChannelGetData(FChannelHandle, pcm.data(),
                        static_cast<DWORD>(pcm.size() * sizeof(int16_t)));
    vis::FrameSource source;
    source.sampleRate = FStreamInfo.SampleRate;
    source.channels = FStreamInfo.Channels;
    source.positionMs = static_cast<int32_t>(PositionMs());
    source.fft = fft.data();
    source.fftChannels = mono ? 1 : channels;
    source.pcm = pcm.data();
    source.pcmChannels = channels;
    vis::WriteFrame(FSharedView, source, FVisScale);
    FSharedMemory->PostToTarget(vis::kFrameWritten, static_cast<win::LPARAM>(vis::kBlockSize));
}
