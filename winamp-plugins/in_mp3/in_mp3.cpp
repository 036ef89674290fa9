// in_mp3: the input plug-in for MPEG audio layers 1, 2 and 3.
#include <mutex>
#include <string>

#include "winamp-plugins/common/InputModule.h"
#include "winamp-plugins/common/PluginText.h"
#include "winamp-plugins/in_mp3/MpegDecoder.h"

namespace {

std::string playingTitle;  // the title of the file Play opened, read then

// The decoder the last question about a file opened, kept for a Play of that
// file (a host asks about a file before it plays it): the file is opened and
// its first frame found and decoded once. A call that overran may still run
// on another thread while the host goes on: the keeping is guarded.
class ProbedFile {
  public:
    void keep(const std::string& path, std::unique_ptr<inmp3::MpegDecoder> decoder) {
        std::lock_guard lock(mutex_);
        path_ = path;
        decoder_ = std::move(decoder);
    }
    // The kept decoder when it reads path as it is now; nothing otherwise.
    std::unique_ptr<inmp3::MpegDecoder> take(const std::string& path) {
        std::unique_ptr<inmp3::MpegDecoder> decoder;
        {
            std::lock_guard lock(mutex_);
            if (path != path_) return nullptr;
            decoder = std::move(decoder_);
            path_.clear();
        }
        return decoder && decoder->reads(path) ? std::move(decoder) : nullptr;
    }

  private:
    std::mutex mutex_;
    std::string path_;
    std::unique_ptr<inmp3::MpegDecoder> decoder_;
};

ProbedFile probed;

char description[] = "KAV MPEG audio decoder";
char extensions[] = "MP3;MP2;MP1\0MPEG audio files (*.MP3;*.MP2;*.MP1)\0";

void Config(HWND) {
    inplug::showBox("Confirm", "The MPEG audio decoder has no settings.");
}
void About(HWND) {
    inplug::showBox("Confirm", "KAV MPEG audio decoder: layers 1, 2 and 3, gapless.");
}
void Init() {
    inmp3::initLibrary();
}

std::string titleOf(inmp3::MpegDecoder* decoder, const std::string& path) {
    std::string title = decoder ? decoder->tagTitle() : std::string();
    return title.empty() ? inplug::titleFromPath(path) : title;
}

void GetFileInfo(char* file, char* title, int* length_in_ms) {
    if (!file || !*file) {
        inplug::copyTitle(playingTitle, title);
        if (length_in_ms) *length_in_ms = inplug::player().lengthMs();
        return;
    }
    auto decoder = probed.take(file);
    if (!decoder) decoder = inmp3::MpegDecoder::open(file);
    inplug::copyTitle(titleOf(decoder.get(), file), title);
    if (length_in_ms) *length_in_ms = decoder ? decoder->format().lengthMs : -1;
    if (!decoder) return;
    decoder->primeFirstFrame();
    probed.keep(file, std::move(decoder));
}

int Play(char* fn) {
    const std::string path = fn ? fn : "";
    auto decoder = probed.take(path);
    if (!decoder) decoder = inmp3::MpegDecoder::open(path);
    if (!decoder) return -1;
    playingTitle = titleOf(decoder.get(), fn);
    return inplug::player().play(std::move(decoder));
}

}  // namespace

KAV_WINAMP_EXPORT In_Module* winampGetInModule2() {
    return inplug::inputModule({description, extensions, Config, About, Init, GetFileInfo, Play});
}
