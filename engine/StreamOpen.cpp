// Stream opening: local files through the readers and the library or a
// plug-in, network addresses through the library's URL and WMA paths.
#include <cstring>
#include <optional>

#include "engine/BASSPlayer.h"
#include "engine/StreamText.h"
#include "fileinfo/MPEGaudio.h"
#include "fileinfo/OggVorbis.h"
#include "fileinfo/WAVfile.h"
#include "fileinfo/WMAfile.h"
#include "platform/bassbind/DRT_BASSWMA.h"
#include "platform/bassbind/Dynamic_BASS.h"
#include "platform/win/MessageBox.h"

namespace {

constexpr DWORD kNoFileSize = 0xFFFFFFFFu;
constexpr QWORD kNoLength = ~QWORD(0);

uint32_t SecondsToMs(double seconds) {
    if (!(seconds > 0)) return 0;
    return static_cast<uint32_t>(kav::RoundHalfEven(seconds * 1000.0));
}

// The library's length of a channel; nothing when it does not know it (a
// live stream, or a network file not measured yet).
std::optional<double> KnownLengthSeconds(DWORD handle) {
    const QWORD bytes = BASS_StreamGetLength(handle);
    if (bytes == kNoLength) return std::nullopt;
    const double seconds = BASS_ChannelBytes2Seconds(handle, bytes);
    if (!(seconds >= 0)) return std::nullopt;
    return seconds;
}

bool IsMpegExt(const std::string& ext) {
    return ext == ".MP1" || ext == ".MP2" || ext == ".MP3";
}

bool IsNetworkFileExt(const std::string& ext) {
    return IsMpegExt(ext) || ext == ".OGG" || ext == ".WAV" || ext == ".WMA" || ext == ".ASF";
}

void DownloadSyncProc(HSYNC, DWORD channel, DWORD_PTR, void* user) {
    win::PostMessage(reinterpret_cast<win::HWND>(user), WM_BP_DOWNLOADED, channel);
}

// Library thread: the title is worked out here and posted with the message,
// so each message carries its own title.
void MetaSyncProc(HSYNC, DWORD channel, DWORD_PTR data, void* user) {
    BASS_CHANNELINFO info{};
    const bool commentList =
        BASS_ChannelGetInfo(channel, &info) && info.ctype == BASS_CTYPE_STREAM_OGG;
    std::string title = kav::MetaTitleFromData(reinterpret_cast<const char*>(data), commentList);
    win::PostMessage(reinterpret_cast<win::HWND>(user), WM_BP_META, channel, 0, std::move(title));
}

std::string TagText(const char* tag) {
    return tag ? std::string(tag) : std::string();
}

}  // namespace

bool TBASSPlayer::GetStreamInfo(const std::string& path, TStreamInfo& info, int32_t& pluginIndex,
                                TPlayableBy& playableBy) {
    info = TStreamInfo{};
    info.FileName = path;
    info.BitsPerSample = 16;
    playableBy = PLAYABLE_UNDECIDED;
    pluginIndex = -1;
    bool result = false;
    const std::string ext = kav::UpperExt(path);
    if (ext.size() != 4 || !FMPEGaudio) return false;
    if (ReadFileTags(path, ext, info)) {
        result = true;
        const bool libraryReady = ext == ".WMA" ? FWMAReady : FPlayerReady;
        if (libraryReady) playableBy = PLAYABLE_BASS;
    }
    AskPlugins(path, info, pluginIndex, playableBy, result);
    if (result && info.Title.empty()) info.Title = kav::ExtractFileName(path);
    return result;
}

bool TBASSPlayer::ReadFileTags(const std::string& path, const std::string& ext, TStreamInfo& info) {
    if (ext == ".WAV") {
        if (!FWAVfile->LoadFromFile(path) || !FWAVfile->Valid()) return false;
        info.FileSize = static_cast<uint32_t>(FWAVfile->FileSize());
        info.SampleRate = FWAVfile->SampleRate();
        info.BitsPerSample = FWAVfile->BitsPerSample();
        info.Channels = FWAVfile->Channels();
        info.BitRate = info.BitsPerSample * info.SampleRate / 1000;
        info.Duration = SecondsToMs(FWAVfile->Duration());
        return true;
    }
    if (IsMpegExt(ext)) {
        const TMPEGaudio& mpeg = *FMPEGaudio;
        if (!FMPEGaudio->LoadFromFile(path) || !mpeg.IsValid()) return false;
        info.FileSize = static_cast<uint32_t>(mpeg.FileSize());
        info.SampleRate = mpeg.SampleRate();
        info.BitRate = mpeg.BitRate();
        info.Duration = SecondsToMs(mpeg.Duration());
        info.Channels = mpeg.ChannelModeName() == "Mono" ? 1 : 2;
        if (const TID3v1& tag = mpeg.ID3v1(); tag.Present()) {
            info.Title = tag.Title();
            info.Artist = tag.Artist();
            info.Album = tag.Album();
            info.Year = tag.Year();
            info.Comment = tag.Comment();
            info.Genre = tag.GenreName();
            info.GenreID = tag.GenreID();
            info.Track = tag.Track();
        } else if (const TID3v2& tag2 = mpeg.ID3v2(); tag2.Present()) {
            info.Title = tag2.Title();
            info.Artist = tag2.Artist();
            info.Album = tag2.Album();
            info.Year = tag2.Year();
            info.Genre = tag2.Genre();
            info.Track = static_cast<uint8_t>(tag2.Track());
            info.Comment = tag2.Comment();
        }
        return true;
    }
    if (ext == ".OGG") {
        const TOggVorbis& ogg = *FOggVorbis;
        if (!LoadOggFile(path) || !ogg.IsValid()) return false;
        info.FileSize = static_cast<uint32_t>(ogg.FileSize());
        info.SampleRate = ogg.SampleRate();
        info.BitRate = ogg.BitRate();
        info.Duration = SecondsToMs(ogg.Duration());
        info.Channels = ogg.Channels();
        info.Title = ogg.Title();
        info.Artist = ogg.Artist();
        info.Album = ogg.Album();
        info.Year = ogg.Date();
        info.Genre = ogg.Genre();
        info.Track = static_cast<uint8_t>(ogg.Track());
        info.Comment = ogg.Comment();
        return true;
    }
    if (ext == ".WMA") {
        const TWMAfile& wma = *FWMAfile;
        if (!FWMAfile->LoadFromFile(path) || !wma.Valid()) return false;
        info.FileSize = static_cast<uint32_t>(wma.FileSize());
        info.SampleRate = wma.SampleRate();
        info.BitRate = wma.BitRate();
        info.Duration = SecondsToMs(wma.Duration());
        info.Channels = wma.Channels();
        info.Title = wma.Title();
        info.Artist = wma.Artist();
        info.Album = wma.Album();
        info.Year = wma.Year();
        info.Genre = wma.Genre();
        info.Track = static_cast<uint8_t>(wma.Track());
        info.Comment = wma.Comment();
        return true;
    }
    return false;
}

// The Ogg reader reports a file it cannot open as an error; here that file
// is one no reader recognises, like any other that cannot be played.
bool TBASSPlayer::LoadOggFile(const std::string& path) {
    try {
        return FOggVorbis->LoadFromFile(path);
    } catch (const EOggFileOpenError&) {
        return false;
    }
}

// The first loaded plug-in that lists the extension and reports a length
// decides: alongside the library (both can play) or alone.
void TBASSPlayer::AskPlugins(const std::string& path, TStreamInfo& info, int32_t& pluginIndex,
                             TPlayableBy& verdict, bool& result) {
    const std::string letters = path.substr(path.size() - 3);
    std::string upper = letters;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (int slot = 0; slot < MaxPluginNum; ++slot) {
        In_Module* module = GetPlugin(slot);
        if (!module) continue;
        std::string extensions = GetPluginInfo(slot).FileExtensions;
        for (char& c : extensions)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (extensions.find(upper) == std::string::npos) continue;
        pluginIndex = slot;
        std::string title;
        int length = 0;
        PluginGetFileInfo(module, path, title, length);
        if (length <= 0) continue;
        if (verdict == PLAYABLE_BASS) {
            verdict = PLAYABLE_BOTH;
        } else {
            if (FPlayerReady) verdict = PLAYABLE_PLUGIN;
            info.Title = title;
            info.Duration = static_cast<uint32_t>(length);
            result = true;
        }
        return;
    }
}

bool TBASSPlayer::OpenStream(const std::string& path) {
    if (!FPlayerReady) {
        win::MessageBox(FAppWindow, "Player is not ready !", "Confirm", win::MB_OK);
        return false;
    }
    if (OpenPrepared(path)) return true;
    const bool network = kav::IsNetworkAddress(path);
    TStreamInfo info;
    int32_t pluginIndex = -1;
    TPlayableBy verdict = PLAYABLE_UNDECIDED;
    if (network)
        info.FileName = path;
    else if (!GetStreamInfo(path, info, pluginIndex, verdict))
        return false;
    CloseChannel();
    if (network ? !OpenNetworkChannel(path, info) : !OpenLocalChannel(path, pluginIndex, verdict))
        return false;
    FCurrentFile = path;
    FStreamInfo = info;
    SendVisRecord(2);
    FPlayState = PLAYSTATE_READY;
    SendVisRecord(1);
    return true;
}

void TBASSPlayer::CloseChannel() {
    FStartedByQueue = false;
    switch (FChannelKind) {
        case CHANNEL_STREAM:
        case CHANNEL_WMA:
            BASS_StreamFree(FChannelHandle);
            break;
        case CHANNEL_MUSIC:
            BASS_MusicFree(FChannelHandle);
            break;
        case CHANNEL_PLUGIN:
            StopPluginChannel();
            break;
        default:
            break;
    }
    FPlayerTimer.SetEnabled(false);
    FChannelKind = CHANNEL_NONE;
    FChannelHandle = 0;
    FEndSync = 0;  // the syncs went with the channel
    // A start or seek under way (this open was made from the messages its
    // wait dispatched) gives way: the new stream may be started.
    ++FStreamSerial;
    FBusy = false;
}

void TBASSPlayer::ActivatePlugin(int32_t index) {
    FChannelKind = CHANNEL_PLUGIN;
    FPluginIndex = index;
    FActivePlugin = GetPlugin(index);
    SelectInputPlugin(index);
}

bool TBASSPlayer::PlaysThroughPlugin(TPlayableBy verdict) const {
    return verdict == PLAYABLE_PLUGIN || (verdict == PLAYABLE_BOTH && FPluginFirst);
}

bool TBASSPlayer::OpenLocalChannel(const std::string& path, int32_t pluginIndex,
                                   TPlayableBy verdict) {
    if (PlaysThroughPlugin(verdict)) {
        ActivatePlugin(pluginIndex);
        return true;
    }
    uint8_t kind = CHANNEL_NONE;
    const DWORD handle = CreateLibraryChannel(path, kind, FChannelInfo, true);
    if (!handle) return false;
    FChannelKind = kind;
    FChannelHandle = handle;
    return true;
}

// A stream, a WMA stream or music, whichever opens the file first; 0 when
// none does or it gives 8-bit samples. Reported as an open always was when asked
// (a prepared stream's failure is told at its turn, by the open that follows).
DWORD TBASSPlayer::CreateLibraryChannel(const std::string& path, uint8_t& kind,
                                        BASS_CHANNELINFO& info, bool report) {
    kind = CHANNEL_STREAM;
    DWORD handle = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    if (!handle && FWMAReady) {
        kind = CHANNEL_WMA;
        handle = BASS_WMA_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    }
    if (!handle) {
        kind = CHANNEL_MUSIC;
        handle = BASS_MusicLoad(FALSE, path.c_str(), 0, 0, BASS_MUSIC_CALCLEN, 0);
    }
    if (!handle) {
        if (report) ShowBASSError("Can't play the file");
        return 0;
    }
    BASS_ChannelGetInfo(handle, &info);
    if (info.flags & BASS_SAMPLE_8BITS) {
        FreeLibraryChannel(handle);
        if (report)
            win::MessageBox(FAppWindow, "Sound card does not support 16-bit sources.", "Confirm",
                            win::MB_OK);
        return 0;
    }
    return handle;
}

// Whichever kind the handle is, only the matching free takes effect.
void TBASSPlayer::FreeLibraryChannel(DWORD handle) {
    BASS_MusicFree(handle);
    BASS_StreamFree(handle);
}

bool TBASSPlayer::OpenNetworkChannel(const std::string& address, TStreamInfo& info) {
    const std::string ext = kav::UpperExt(address);
    if (ext == ".ASF" || ext == ".WMA") {
        const int index = FindPluginForExt(ext.substr(1));
        if (index < 0) {
            win::MessageBox(FAppWindow, "Winamp input plug-in for ASF (or WMA) file is not loaded.",
                            "Confirm", win::MB_OK);
            return false;
        }
        ActivatePlugin(index);
        return true;
    }
    uint8_t kind = CHANNEL_STREAM;
    DWORD handle = BASS_StreamCreateURL(address.c_str(), 0, BASS_STREAM_META, nullptr, nullptr);
    if (!handle && FWMAReady) {
        std::string wmaAddress = address;
        if (wmaAddress.starts_with("http://")) wmaAddress.replace(0, 7, "mms://");
        kind = CHANNEL_WMA;
        handle = BASS_WMA_StreamCreateFile(FALSE, wmaAddress.c_str(), 0, 0, BASS_WMA_URL);
    }
    if (!handle) {
        win::MessageBox(FAppWindow, "Can't play the specified URL stream : " + address, "Confirm",
                        win::MB_OK);
        return false;
    }
    FChannelKind = kind;
    FChannelHandle = handle;
    // A name like a file's does not make a file: a live mount may be called
    // /live.mp3. What has neither a length nor an announced size is live.
    const bool measured = KnownLengthSeconds(handle).has_value() ||
                          BASS_StreamGetFilePosition(handle, BASS_FILEPOS_END) != kNoFileSize;
    if (IsNetworkFileExt(ext) && measured)
        ReadNetworkFileInfo(ext, info);
    else
        ReadLiveStreamInfo(info);
    BASS_ChannelGetInfo(handle, &FChannelInfo);
    info.SampleRate = static_cast<int32_t>(FChannelInfo.freq);
    info.Channels = static_cast<uint16_t>(FChannelInfo.chans);
    return true;
}

void TBASSPlayer::ReadNetworkFileInfo(const std::string& ext, TStreamInfo& info) {
    const DWORD handle = FChannelHandle;
    if (ext == ".OGG") {
        const std::string comment =
            kav::FindTagString(BASS_StreamGetTags(handle, BASS_TAG_OGG), "TITLE=");
        if (!comment.empty()) info.Title = comment.substr(6);
    } else {
        info.Title = kav::UrlFileName(info.FileName);
    }
    // A length not known yet is filled in once the download is complete.
    const double seconds = KnownLengthSeconds(handle).value_or(0);
    info.Duration = SecondsToMs(seconds);
    const DWORD size = BASS_StreamGetFilePosition(handle, BASS_FILEPOS_END);
    if (size != kNoFileSize) {
        info.FileSize = size;
        // A length that reads as no time at all gives no bit rate.
        info.BitRate =
            seconds > 0 ? static_cast<int32_t>(kav::RoundHalfEven(size / (seconds * 125))) : 0;
    }
    BASS_ChannelSetSync(handle, BASS_SYNC_DOWNLOAD, 0, DownloadSyncProc,
                        reinterpret_cast<void*>(FMessageWindow));
}

void TBASSPlayer::ReadLiveStreamInfo(TStreamInfo& info) {
    const DWORD handle = FChannelHandle;
    // A server answering "HTTP/1.x 200" sends its icy- fields among the HTTP headers.
    std::string bitRate = kav::FindTagString(BASS_StreamGetTags(handle, BASS_TAG_ICY), "icy-br:");
    if (bitRate.empty())
        bitRate = kav::FindTagString(BASS_StreamGetTags(handle, BASS_TAG_HTTP), "icy-br:");
    if (!bitRate.empty()) info.BitRate = kav::IcyBitRate(bitRate);
    info.Title = kav::StreamTitleOf(TagText(BASS_StreamGetTags(handle, BASS_TAG_META)));
    // A live Ogg stream names its track in its comments, as its later changes do.
    if (info.Title.empty())
        info.Title = kav::MetaTitleFromData(BASS_StreamGetTags(handle, BASS_TAG_OGG), true);
    // Reached through a playlist link: the list's title until the stream sends one.
    if (info.Title.empty()) info.Title = TagText(BASS_StreamGetTags(handle, BASS_TAG_LINK));
    BASS_ChannelSetSync(handle, BASS_SYNC_META, 0, MetaSyncProc,
                        reinterpret_cast<void*>(FMessageWindow));
}

bool TBASSPlayer::TitleFromLink() const {
    if (FChannelKind != CHANNEL_STREAM || FStreamInfo.Title.empty()) return false;
    const char* link = BASS_StreamGetTags(FChannelHandle, BASS_TAG_LINK);
    return link && FStreamInfo.Title == link;
}

// A network file has arrived whole: its tags can be read from memory and its
// length is now exact.
void TBASSPlayer::DownloadCompleted() {
    const DWORD handle = FChannelHandle;
    const char* tag = nullptr;
    uint16_t kind = 0;
    if (IsMpegExt(kav::UpperExt(FCurrentFile))) {
        if ((tag = BASS_StreamGetTags(handle, BASS_TAG_ID3)))
            kind = 1;
        else if ((tag = BASS_StreamGetTags(handle, BASS_TAG_ID3V2)))
            kind = 2;
    }
    FStreamInfo.FileSize = BASS_StreamGetFilePosition(handle, BASS_FILEPOS_END);
    TMP3TagInfo tagInfo;
    if (kind != 0 && FMPEGaudio->ReadTagFromMemory(tag, static_cast<int32_t>(FStreamInfo.FileSize),
                                                   tagInfo, kind)) {
        FStreamInfo.Title = tagInfo.Title;
        FStreamInfo.Artist = tagInfo.Artist;
        FStreamInfo.Album = tagInfo.Album;
        FStreamInfo.Year = tagInfo.Year;
        FStreamInfo.Genre = tagInfo.Genre;
        FStreamInfo.Track = static_cast<uint8_t>(tagInfo.Track);
        FStreamInfo.Comment = tagInfo.Comment;
    }
    FStreamInfo.Duration = SecondsToMs(KnownLengthSeconds(handle).value_or(0));
    if (OnDownloaded) OnDownloaded(this, std::to_string(FStreamInfo.Duration));
}
