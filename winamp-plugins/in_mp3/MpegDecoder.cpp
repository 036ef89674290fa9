#include "winamp-plugins/in_mp3/MpegDecoder.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace inmp3 {

namespace {

// How far past a damaged frame the decoder looks for the next one.
constexpr long kResyncLimitBytes = 64 * 1024;
// The format reported for a file that holds no frame at all.
constexpr int kFallbackRate = 44100;
// A file this small is indexed as it is opened, which costs little; a larger
// one only before its first seek (indexing once decoding has begun would
// play a frame twice), its length read from its header until then.
constexpr std::uint64_t kIndexAtOpenBytes = 256 * 1024;

void configure(mpg123_handle* h) {
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_FORCE_SEEKABLE | MPG123_QUIET, 0);
    mpg123_param(h, MPG123_RESYNC_LIMIT, kResyncLimitBytes, 0);
    mpg123_format_none(h);
    const long* rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
}

std::string text(const mpg123_string* s) {
    return s && s->p && s->fill > 0 ? std::string(s->p, strnlen(s->p, s->fill)) : std::string();
}

}  // namespace

void initLibrary() {
    static const int once = mpg123_init();
    (void)once;
}

std::unique_ptr<MpegDecoder> MpegDecoder::open(const std::string& path) {
    auto file = std::make_unique<inplug::RegularFile>(path);
    if (!file->isOpen()) return nullptr;
    initLibrary();
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    if (!h) return nullptr;
    configure(h);
    std::unique_ptr<MpegDecoder> decoder(new MpegDecoder(std::move(file), h));
    if (mpg123_replace_reader_handle(h, MpegInput::read, MpegInput::seek, nullptr) != MPG123_OK ||
        mpg123_open_handle(h, &decoder->input_) != MPG123_OK)
        return nullptr;
    decoder->playable_ = decoder->readFormat();
    if (decoder->file_->size() <= kIndexAtOpenBytes) decoder->prepare();
    return decoder;
}

MpegDecoder::~MpegDecoder() {
    mpg123_close(handle_);
    mpg123_delete(handle_);
}

bool MpegDecoder::readFormat() {
    long rate = 0;
    int channels = 0, encoding = 0;
    const bool found = mpg123_getformat(handle_, &rate, &channels, &encoding) == MPG123_OK;
    format_.rate = found ? static_cast<int>(rate) : kFallbackRate;
    format_.channels = found ? channels : 2;
    format_.bits = 16;
    if (!found) return false;
    mpg123_frameinfo info{};
    if (mpg123_info(handle_, &info) == MPG123_OK)
        format_.bitrateKbps = info.vbr == MPG123_CBR ? info.bitrate : info.abr_rate;
    updateLength();
    if (format_.bitrateKbps <= 0 && format_.lengthMs > 0)
        format_.bitrateKbps = static_cast<int>(file_->size() * 8 / format_.lengthMs);
    return true;
}

void MpegDecoder::updateLength() {
    const off_t samples = mpg123_length(handle_);
    if (samples <= 0 || format_.rate <= 0) return;
    format_.lengthMs =
        static_cast<int>(std::min<long long>(samples * 1000LL / format_.rate, INT_MAX));
}

// The index of every frame makes seeks land on the sample and the length
// exact (also of a file without a header that gives it, or damaged).
void MpegDecoder::prepare() {
    if (indexed_ || !playable_) return;
    indexed_ = true;
    if (mpg123_scan(handle_) == MPG123_OK) updateLength();
}

int MpegDecoder::read(unsigned char* out, int frames) {
    const std::size_t frameBytes = static_cast<std::size_t>(format_.channels) * 2;
    const std::size_t want = static_cast<std::size_t>(frames) * frameBytes;
    std::size_t filled = 0;
    while (filled < want) {
        if (pendingAt_ == pending_.size() && !decodeFrame()) break;
        const std::size_t n = std::min(want - filled, pending_.size() - pendingAt_);
        std::memcpy(out + filled, pending_.data() + pendingAt_, n);
        pendingAt_ += n;
        filled += n;
    }
    return static_cast<int>(filled / frameBytes);
}

bool MpegDecoder::decodeFrame() {
    pending_.clear();
    pendingAt_ = 0;
    while (playable_ && pending_.empty()) {
        off_t number = 0;
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        const int rc = mpg123_decode_frame(handle_, &number, &audio, &bytes);
        if (rc == MPG123_NEW_FORMAT) {
            // A frame of another rate or channel count (damage that looks like a
            // header, or a joined file) cannot go to the open output: skipped.
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(handle_, &rate, &channels, &encoding);
            foreign_ = rate != format_.rate || channels != format_.channels;
        } else if (rc != MPG123_OK) {
            return false;  // the end, or damage beyond the resync limit
        }
        if (!foreign_ && audio && bytes > 0) pending_.assign(audio, audio + bytes);
    }
    return !pending_.empty();
}

void MpegDecoder::primeFirstFrame() {
    if (pending_.empty() && pendingAt_ == 0) decodeFrame();
}

void MpegDecoder::seekMs(int ms) {
    if (!playable_) return;
    pending_.clear();
    pendingAt_ = 0;
    const off_t sample = static_cast<off_t>(std::max(ms, 0)) * format_.rate / 1000;
    mpg123_seek(handle_, sample, SEEK_SET);
}

std::string MpegDecoder::tagTitle() {
    mpg123_id3v1* v1 = nullptr;
    mpg123_id3v2* v2 = nullptr;
    if (mpg123_id3(handle_, &v1, &v2) != MPG123_OK) return {};
    std::string artist, title;
    if (v2) {
        artist = text(v2->artist);
        title = text(v2->title);
    }
    if (title.empty() && v1) {
        title.assign(v1->title, strnlen(v1->title, sizeof v1->title));
        artist.assign(v1->artist, strnlen(v1->artist, sizeof v1->artist));
        while (!title.empty() && title.back() == ' ') title.pop_back();
        while (!artist.empty() && artist.back() == ' ') artist.pop_back();
    }
    if (title.empty()) return {};
    return artist.empty() ? title : artist + " - " + title;
}

}  // namespace inmp3
