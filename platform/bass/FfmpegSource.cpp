#include "FfmpegSource.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "FfmpegLog.h"
#include "NetConnection.h"

namespace kavbass {

// An in-memory file read through FFmpeg's I/O layer.
struct FfmpegSource::MemoryFile {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
};

namespace {

constexpr int kIoBufferSize = 32768;
constexpr int kFeedProbeBytes = 65536;

int readMemory(void* opaque, uint8_t* buf, int size) {
    auto* m = static_cast<FfmpegSource::MemoryFile*>(opaque);
    size_t n = std::min(static_cast<size_t>(size), m->size - m->pos);
    if (n == 0) return AVERROR_EOF;
    std::memcpy(buf, m->data + m->pos, n);
    m->pos += n;
    return static_cast<int>(n);
}

int64_t seekMemory(void* opaque, int64_t offset, int whence) {
    auto* m = static_cast<FfmpegSource::MemoryFile*>(opaque);
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return static_cast<int64_t>(m->size);
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = static_cast<int64_t>(m->pos);
            break;
        case SEEK_END:
            base = static_cast<int64_t>(m->size);
            break;
        default:
            return -1;
    }
    int64_t p = base + offset;
    if (p < 0 || p > static_cast<int64_t>(m->size)) return -1;
    m->pos = static_cast<size_t>(p);
    return p;
}

bool isPcm(AVCodecID id) {
    return id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT;
}

bool isWma(AVCodecID id) {
    return id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2 || id == AV_CODEC_ID_WMAPRO ||
           id == AV_CODEC_ID_WMALOSSLESS || id == AV_CODEC_ID_WMAVOICE;
}

DWORD musicType(const std::string& url) {
    auto dot = url.find_last_of('.');
    std::string ext = dot == std::string::npos ? "" : url.substr(dot + 1);
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "xm") return BASS_CTYPE_MUSIC_XM;
    if (ext == "s3m") return BASS_CTYPE_MUSIC_S3M;
    if (ext == "it") return BASS_CTYPE_MUSIC_IT;
    return BASS_CTYPE_MUSIC_MOD;
}

// The container and codec a family accepts, with the channel type they give.
DWORD acceptedType(Family family, const char* demuxer, AVCodecID id, const std::string& url) {
    const std::string d = demuxer ? demuxer : "";
    switch (family) {
        case Family::Stream:
            if (d == "mp3" && id == AV_CODEC_ID_MP1) return BASS_CTYPE_STREAM_MP1;
            if (d == "mp3" && id == AV_CODEC_ID_MP2) return BASS_CTYPE_STREAM_MP2;
            if (d == "mp3" && id == AV_CODEC_ID_MP3) return BASS_CTYPE_STREAM_MP3;
            if (d == "ogg" && id == AV_CODEC_ID_VORBIS) return BASS_CTYPE_STREAM_OGG;
            if (d == "wav" && isPcm(id)) return BASS_CTYPE_STREAM_WAV;
            return 0;
        case Family::Wma:
            return (d == "asf" || d == "asf_o") && isWma(id) ? BASS_CTYPE_STREAM_WMA : 0;
        case Family::Music:
            return d == "libopenmpt" ? musicType(url) : 0;
    }
    return 0;
}

int64_t steadyNs(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

std::unique_ptr<FfmpegSource> FfmpegSource::open(const OpenRequest& req, int& error) {
    quietFfmpegLog();
    std::unique_ptr<FfmpegSource> s(new FfmpegSource);
    if (req.deadline != std::chrono::steady_clock::time_point::max())
        s->deadlineNs_.store(steadyNs(req.deadline));
    if (!s->openInput(req, error) || !s->openCodec(req.family, error)) return nullptr;
    s->deadlineNs_.store(INT64_MAX);
    if (!s->ctype_)
        s->ctype_ = acceptedType(req.family, s->fmt_->iformat->name, s->codec_->codec_id, req.url);
    if (s->ctype_ == BASS_CTYPE_STREAM_OGG && s->codec_->codec_id == AV_CODEC_ID_VORBIS &&
        !req.feed)
        s->endFrame_ = s->lengthFrames_;
    return s;
}

int FfmpegSource::feedRead(void* opaque, uint8_t* buf, int size) {
    auto* self = static_cast<FfmpegSource*>(opaque);
    int n = self->feed_(buf, size);
    if (n < 0) return AVERROR_EXIT;
    return n == 0 ? AVERROR_EOF : n;
}

// FFmpeg's blocking calls ask this between their steps: a freed channel or a
// passed open deadline ends them.
int FfmpegSource::interrupted(void* opaque) {
    auto* self = static_cast<FfmpegSource*>(opaque);
    if (self->aborted_.load(std::memory_order_relaxed)) return 1;
    const int64_t deadline = self->deadlineNs_.load(std::memory_order_relaxed);
    return deadline != INT64_MAX && steadyNs(std::chrono::steady_clock::now()) >= deadline;
}

int64_t FfmpegSource::feedSeek(void* opaque, int64_t /*offset*/, int whence) {
    auto* self = static_cast<FfmpegSource*>(opaque);
    return (whence & ~AVSEEK_FORCE) == AVSEEK_SIZE ? self->feedSize_ : -1;
}

bool FfmpegSource::openInput(const OpenRequest& req, int& error) {
    fmt_ = avformat_alloc_context();
    if (!fmt_) return error = BASS_ERROR_MEM, false;
    fmt_->interrupt_callback.callback = interrupted;
    fmt_->interrupt_callback.opaque = this;
    if (req.memory || req.feed) {
        auto* buf = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
        if (req.memory) {
            memory_.reset(new MemoryFile{static_cast<const uint8_t*>(req.memory), req.memorySize});
            avio_ = avio_alloc_context(buf, kIoBufferSize, 0, memory_.get(), readMemory, nullptr,
                                       seekMemory);
        } else {
            feed_ = req.feed;
            feedSize_ = req.feedSize;
            avio_ = avio_alloc_context(buf, kIoBufferSize, 0, this, feedRead, nullptr, feedSeek);
            if (avio_) avio_->seekable = 0;
        }
        if (!avio_) return av_free(buf), error = BASS_ERROR_MEM, false;
        fmt_->pb = avio_;
        fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
        if (req.feed) {
            // A live feed delivers at playback pace: decide on little data,
            // and probe (when the demuxer is not known) no further either.
            fmt_->probesize = kFeedProbeBytes;
            if (req.feedSize < 0) fmt_->format_probesize = kFeedProbeBytes;
            fmt_->max_analyze_duration = AV_TIME_BASE / 2;
        }
    }
    AVDictionary* opts = nullptr;
    if (req.family == Family::Music) {
        av_dict_set_int(&opts, "sample_rate", req.musicRate, 0);
    }
    if (!req.memory && !req.feed && req.url.find("://") != std::string::npos) {
        // A stalled read while playing; the open itself keeps the deadline
        // through the interrupt callback, which FFmpeg's waits ask often.
        av_dict_set_int(&opts, "rw_timeout", int64_t(req.timeoutMs) * 1000, 0);
        av_dict_set_int(&opts, "timeout", int64_t(req.timeoutMs) * 1000, 0);
        if (req.url.compare(0, 8, "https://") == 0) addCertificateChecks(&opts);
    }
    const char* url = (req.memory || req.feed) ? "" : req.url.c_str();
    const AVInputFormat* format =
        req.format.empty() ? nullptr : av_find_input_format(req.format.c_str());
    int rc = avformat_open_input(&fmt_, url, format, &opts);
    av_dict_free(&opts);
    if (rc < 0) {
        // avformat_open_input frees the context on failure.
        fmt_ = nullptr;
        bool local = !req.memory && !req.feed && req.url.find("://") == std::string::npos;
        error = rc == AVERROR(ENOENT) || rc == AVERROR(EACCES) ? BASS_ERROR_FILEOPEN
                : local || req.memory || req.feed              ? BASS_ERROR_FILEFORM
                                                               : BASS_ERROR_FILEOPEN;
        if (interrupted(this)) error = BASS_ERROR_TIMEOUT;
        return false;
    }
    if (avformat_find_stream_info(fmt_, nullptr) < 0)
        return error = interrupted(this) ? BASS_ERROR_TIMEOUT : BASS_ERROR_FILEFORM, false;
    streamIndex_ = av_find_best_stream(fmt_, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (streamIndex_ < 0) return error = BASS_ERROR_FILEFORM, false;
    AVStream* st = fmt_->streams[streamIndex_];
    ctype_ = acceptedType(req.family, fmt_->iformat->name, st->codecpar->codec_id, req.url);
    if (!ctype_) return error = BASS_ERROR_FILEFORM, false;
    return true;
}

bool FfmpegSource::openCodec(Family /*family*/, int& error) {
    AVStream* st = fmt_->streams[streamIndex_];
    const AVCodec* dec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!dec) return error = BASS_ERROR_FILEFORM, false;
    codec_ = avcodec_alloc_context3(dec);
    if (!codec_ || avcodec_parameters_to_context(codec_, st->codecpar) < 0)
        return error = BASS_ERROR_MEM, false;
    if (avcodec_open2(codec_, dec, nullptr) < 0) return error = BASS_ERROR_FILEFORM, false;
    if (codec_->ch_layout.nb_channels <= 0 || codec_->sample_rate <= 0)
        return error = BASS_ERROR_FILEFORM, false;
    if (codec_->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        int n = codec_->ch_layout.nb_channels;
        av_channel_layout_uninit(&codec_->ch_layout);
        av_channel_layout_default(&codec_->ch_layout, n);
    }
    rate_ = static_cast<uint32_t>(codec_->sample_rate);
    chans_ = static_cast<uint32_t>(codec_->ch_layout.nb_channels);
    if (swr_alloc_set_opts2(&swr_, &codec_->ch_layout, AV_SAMPLE_FMT_S16, codec_->sample_rate,
                            &codec_->ch_layout, codec_->sample_fmt, codec_->sample_rate, 0,
                            nullptr) < 0 ||
        swr_init(swr_) < 0)
        return error = BASS_ERROR_FORMAT, false;
    pkt_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!pkt_ || !frame_) return error = BASS_ERROR_MEM, false;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
        lengthFrames_ = av_rescale_q(st->duration, st->time_base, AVRational{1, int(rate_)});
    } else if (fmt_->duration != AV_NOPTS_VALUE && fmt_->duration > 0) {
        lengthFrames_ = av_rescale(fmt_->duration, rate_, AV_TIME_BASE);
    }
    return true;
}

FfmpegSource::~FfmpegSource() {
    av_frame_free(&frame_);
    av_packet_free(&pkt_);
    swr_free(&swr_);
    avcodec_free_context(&codec_);
    if (fmt_) avformat_close_input(&fmt_);
    if (avio_) {
        av_freep(&avio_->buffer);
        avio_context_free(&avio_);
    }
}

int64_t FfmpegSource::fileSize() const {
    if (memory_) return static_cast<int64_t>(memory_->size);
    if (feed_) return feedSize_;
    return fmt_ && fmt_->pb ? avio_size(fmt_->pb) : -1;
}

void FfmpegSource::abort() {
    aborted_.store(true, std::memory_order_relaxed);
}

void FfmpegSource::takeFrame(AVFrame* frame) {
    int64_t start = -1;
    if (skipTo_ >= 0 && frame->best_effort_timestamp != AV_NOPTS_VALUE) {
        AVStream* st = fmt_->streams[streamIndex_];
        int64_t ts = frame->best_effort_timestamp;
        if (st->start_time != AV_NOPTS_VALUE) ts -= st->start_time;
        start = av_rescale_q(ts, st->time_base, AVRational{1, int(rate_)});
    }
    const int outMax = swr_get_out_samples(swr_, frame->nb_samples);
    if (outMax <= 0) return;
    std::vector<int16_t> out(static_cast<size_t>(outMax) * chans_);
    uint8_t* outPtr = reinterpret_cast<uint8_t*>(out.data());
    int got = swr_convert(swr_, &outPtr, outMax, const_cast<const uint8_t**>(frame->extended_data),
                          frame->nb_samples);
    if (got <= 0) return;
    size_t drop = 0;
    if (skipTo_ >= 0) {
        if (start >= 0 && start < skipTo_) {
            drop = static_cast<size_t>(std::min<int64_t>(skipTo_ - start, got));
        }
        if (start < 0 || start + got > skipTo_) skipTo_ = -1;
    }
    pending_.insert(pending_.end(), out.begin() + drop * chans_,
                    out.begin() + size_t(got) * chans_);
}

// Decodes until some frames are pending or the stream has ended.
bool FfmpegSource::decodeMore() {
    while (!drained_) {
        int rc = avcodec_receive_frame(codec_, frame_);
        if (rc == 0) {
            takeFrame(frame_);
            av_frame_unref(frame_);
            if (pending_.size() > pendingPos_) return true;
            continue;
        }
        if (rc == AVERROR_EOF) {
            drained_ = true;
            break;
        }
        if (aborted_.load(std::memory_order_relaxed)) return false;
        if (inputEnded_) {
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        rc = av_read_frame(fmt_, pkt_);
        if (rc < 0) {
            inputEnded_ = true;
            avcodec_send_packet(codec_, nullptr);
            continue;
        }
        if (pkt_->stream_index == streamIndex_) {
            // A damaged packet is skipped; decoding goes on with the next one.
            avcodec_send_packet(codec_, pkt_);
        }
        av_packet_unref(pkt_);
    }
    return pending_.size() > pendingPos_;
}

size_t FfmpegSource::read(int16_t* out, size_t maxFrames, bool& eof) {
    eof = false;
    if (endFrame_ >= 0) {
        maxFrames =
            static_cast<size_t>(std::clamp<int64_t>(endFrame_ - nextFrame_, 0, int64_t(maxFrames)));
        if (maxFrames == 0) return eof = true, 0;
    }
    size_t done = 0;
    while (done < maxFrames) {
        if (pendingPos_ >= pending_.size()) {
            pending_.clear();
            pendingPos_ = 0;
            if (!decodeMore()) {
                eof = drained_ || aborted_.load(std::memory_order_relaxed);
                break;
            }
        }
        size_t availFrames = (pending_.size() - pendingPos_) / chans_;
        size_t n = std::min(availFrames, maxFrames - done);
        std::memcpy(out + done * chans_, pending_.data() + pendingPos_, n * chans_ * 2);
        pendingPos_ += n * chans_;
        done += n;
    }
    nextFrame_ += static_cast<int64_t>(done);
    return done;
}

bool FfmpegSource::seek(uint64_t frame) {
    AVStream* st = fmt_->streams[streamIndex_];
    int64_t ts =
        av_rescale_q(static_cast<int64_t>(frame), AVRational{1, int(rate_)}, st->time_base);
    if (st->start_time != AV_NOPTS_VALUE) ts += st->start_time;
    if (av_seek_frame(fmt_, streamIndex_, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
    avcodec_flush_buffers(codec_);
    swr_close(swr_);
    swr_init(swr_);
    pending_.clear();
    pendingPos_ = 0;
    inputEnded_ = drained_ = false;
    skipTo_ = static_cast<int64_t>(frame);
    nextFrame_ = static_cast<int64_t>(frame);
    return true;
}

}  // namespace kavbass
