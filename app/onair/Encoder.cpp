#include "Encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <utility>
#include <vector>

namespace onair {

namespace {

// An Ogg page is written at least this often (microseconds), so that a
// listener's server gets the sound in small steps.
constexpr const char* kOggPageDuration = "250000";

struct FreeCodec {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FreeSwr {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FreeFifo {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct FreeFrame {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct FreePacket {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
// The muxer and the I/O context it writes through (its buffer with it).
struct FreeMuxer {
    void operator()(AVFormatContext* m) const {
        if (m->pb) {
            av_freep(&m->pb->buffer);
            avio_context_free(&m->pb);
        }
        avformat_free_context(m);
    }
};

std::string avError(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return text;
}

const char* encoderName(Format format) {
    switch (format) {
        case Format::Vorbis:
            return "libvorbis";
        case Format::Opus:
            return "libopus";
        case Format::Mp3:
            break;
    }
    return "libmp3lame";
}

// The input's rate when the encoder takes it, else the lowest it takes above
// the input's (Opus: 48 kHz), else its highest.
int encodedRate(const AVCodec* codec, int inputRate) {
    if (!codec->supported_samplerates) return inputRate;
    int above = 0, highest = 0;
    for (const int* r = codec->supported_samplerates; *r; ++r) {
        if (*r == inputRate) return inputRate;
        if (*r > inputRate && (above == 0 || *r < above)) above = *r;
        highest = std::max(highest, *r);
    }
    return above ? above : highest;
}

class FfmpegEncoder final : public Encoder {
  public:
    bool open(Format format, int kbps, int inputRate, const Tags& tags);

    bool Encode(const std::int16_t* pcm, std::size_t frames) override;
    bool Retitle(const Tags& tags) override;
    bool Finish() override;
    std::string Take() override { return std::exchange(out_, {}); }
    const std::string& Error() const override { return error_; }
    const char* ContentType() const override { return ogg() ? "application/ogg" : "audio/mpeg"; }
    int EncodedRate() const override { return ctx_ ? ctx_->sample_rate : 0; }

  private:
    bool ogg() const { return format_ != Format::Mp3; }
    bool openCodec();
    bool openMuxer(const Tags& tags);
    bool openResampler();
    bool endStream();
    bool encodeWholeFrames();
    bool encodeRest();
    bool send(const AVFrame* frame);
    bool write(AVPacket* packet);
    bool fail(const std::string& what, int err);
#if LIBAVFORMAT_VERSION_MAJOR >= 61
    static int collect(void* opaque, const std::uint8_t* data, int size);
#else
    static int collect(void* opaque, std::uint8_t* data, int size);
#endif

    Format format_ = Format::Mp3;
    int kbps_ = 128, inputRate_ = 44100;
    const AVCodec* codec_ = nullptr;
    std::unique_ptr<AVCodecContext, FreeCodec> ctx_;
    std::unique_ptr<AVFormatContext, FreeMuxer> mux_;
    std::unique_ptr<SwrContext, FreeSwr> swr_;
    std::unique_ptr<AVAudioFifo, FreeFifo> fifo_;
    std::unique_ptr<AVFrame, FreeFrame> frame_;
    std::unique_ptr<AVPacket, FreePacket> packet_;
    std::vector<std::uint8_t> converted_;  // resampled samples on their way to the fifo
    std::int64_t pts_ = 0;                 // of the next frame, in the stream's samples
    std::string out_, error_;
};

bool FfmpegEncoder::fail(const std::string& what, int err) {
    error_ = what + (err ? ": " + avError(err) : std::string());
    return false;
}

bool FfmpegEncoder::open(Format format, int kbps, int inputRate, const Tags& tags) {
    format_ = format;
    kbps_ = kbps;
    inputRate_ = inputRate;
    codec_ = avcodec_find_encoder_by_name(encoderName(format));
    if (!codec_) return fail(std::string("FFmpeg has no ") + encoderName(format) + " encoder", 0);
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!frame_ || !packet_ || !openCodec() || !openResampler()) return false;
    fifo_.reset(av_audio_fifo_alloc(ctx_->sample_fmt, 2, ctx_->frame_size * 4));
    if (!fifo_) return fail("out of memory", 0);
    return !ogg() || openMuxer(tags);
}

bool FfmpegEncoder::openCodec() {
    ctx_.reset(avcodec_alloc_context3(codec_));
    if (!ctx_) return fail("out of memory", 0);
    ctx_->sample_fmt = codec_->sample_fmts ? codec_->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    ctx_->sample_rate = encodedRate(codec_, inputRate_);
    av_channel_layout_default(&ctx_->ch_layout, 2);
    ctx_->bit_rate = std::int64_t(kbps_) * 1000;
    ctx_->time_base = AVRational{1, ctx_->sample_rate};
    if (ogg()) ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int err = avcodec_open2(ctx_.get(), codec_, nullptr);
    if (err < 0) return fail(std::string("cannot open ") + codec_->name, err);
    if (ctx_->frame_size <= 0) ctx_->frame_size = 1152;
    pts_ = 0;
    return true;
}

bool FfmpegEncoder::openResampler() {
    SwrContext* swr = nullptr;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    int err = swr_alloc_set_opts2(&swr, &ctx_->ch_layout, ctx_->sample_fmt, ctx_->sample_rate,
                                  &stereo, AV_SAMPLE_FMT_S16, inputRate_, 0, nullptr);
    swr_.reset(swr);
    if (err >= 0) err = swr_init(swr);
    return err >= 0 || fail("cannot convert the samples", err);
}

bool FfmpegEncoder::openMuxer(const Tags& tags) {
    AVFormatContext* mux = nullptr;
    int err = avformat_alloc_output_context2(&mux, nullptr, "ogg", nullptr);
    if (err < 0 || !mux) return fail("no Ogg muxer", err);
    mux_.reset(mux);
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(4096));
    mux->pb =
        buffer ? avio_alloc_context(buffer, 4096, 1, this, nullptr, collect, nullptr) : nullptr;
    if (!mux->pb) {
        av_free(buffer);
        return fail("out of memory", 0);
    }
    mux->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    AVStream* st = avformat_new_stream(mux, nullptr);
    if (!st) return fail("out of memory", 0);
    st->time_base = ctx_->time_base;
    err = avcodec_parameters_from_context(st->codecpar, ctx_.get());
    if (err < 0) return fail("cannot describe the stream", err);
    if (!tags.title.empty()) av_dict_set(&st->metadata, "TITLE", tags.title.c_str(), 0);
    if (!tags.artist.empty()) av_dict_set(&st->metadata, "ARTIST", tags.artist.c_str(), 0);
    AVDictionary* options = nullptr;
    av_dict_set(&options, "page_duration", kOggPageDuration, 0);
    err = avformat_write_header(mux, &options);
    av_dict_free(&options);
    if (err < 0) return fail("cannot begin the Ogg stream", err);
    avio_flush(mux->pb);
    return true;
}

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int FfmpegEncoder::collect(void* opaque, const std::uint8_t* data, int size) {
#else
int FfmpegEncoder::collect(void* opaque, std::uint8_t* data, int size) {
#endif
    static_cast<FfmpegEncoder*>(opaque)->out_.append(reinterpret_cast<const char*>(data),
                                                     std::size_t(size));
    return size;
}

bool FfmpegEncoder::Encode(const std::int16_t* pcm, std::size_t frames) {
    if (!error_.empty()) return false;
    if (frames == 0) return true;
    const int room = swr_get_out_samples(swr_.get(), int(frames));
    const int bytes = av_samples_get_buffer_size(nullptr, 2, room, ctx_->sample_fmt, 1);
    if (room < 0 || bytes < 0) return fail("cannot convert the samples", room < 0 ? room : bytes);
    // Planar formats: the channels one after the other, room samples each.
    converted_.resize(std::size_t(bytes));
    std::uint8_t* planes[2] = {converted_.data(), converted_.data() + bytes / 2};
    const auto* in = reinterpret_cast<const std::uint8_t*>(pcm);
    const int made = swr_convert(swr_.get(), planes, room, &in, int(frames));
    if (made < 0) return fail("cannot convert the samples", made);
    if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(planes), made) < made)
        return fail("out of memory", 0);
    return encodeWholeFrames();
}

bool FfmpegEncoder::encodeWholeFrames() {
    AVFrame* f = frame_.get();
    while (av_audio_fifo_size(fifo_.get()) >= ctx_->frame_size) {
        av_frame_unref(f);
        f->nb_samples = ctx_->frame_size;
        f->format = ctx_->sample_fmt;
        f->sample_rate = ctx_->sample_rate;
        int err = av_channel_layout_copy(&f->ch_layout, &ctx_->ch_layout);
        if (err >= 0) err = av_frame_get_buffer(f, 0);
        if (err < 0) return fail("out of memory", err);
        av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(f->data), ctx_->frame_size);
        f->pts = pts_;
        pts_ += ctx_->frame_size;
        if (!send(f)) return false;
    }
    return true;
}

// The samples short of a whole frame, as a last frame of their own, padded
// with silence where the encoder wants whole frames only.
bool FfmpegEncoder::encodeRest() {
    const int rest = av_audio_fifo_size(fifo_.get());
    if (rest == 0) return true;
    const bool small =
        codec_->capabilities & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    AVFrame* f = frame_.get();
    av_frame_unref(f);
    f->nb_samples = small ? rest : ctx_->frame_size;
    f->format = ctx_->sample_fmt;
    f->sample_rate = ctx_->sample_rate;
    int err = av_channel_layout_copy(&f->ch_layout, &ctx_->ch_layout);
    if (err >= 0) err = av_frame_get_buffer(f, 0);
    if (err < 0) return fail("out of memory", err);
    av_samples_set_silence(f->data, 0, f->nb_samples, 2, ctx_->sample_fmt);
    av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(f->data), rest);
    f->pts = pts_;
    pts_ += f->nb_samples;
    return send(f);
}

// A frame to the encoder (nothing: it gives what it holds back), and every
// packet it has ready to the stream.
bool FfmpegEncoder::send(const AVFrame* frame) {
    int err = avcodec_send_frame(ctx_.get(), frame);
    if (err < 0) return fail(std::string("cannot encode with ") + codec_->name, err);
    while ((err = avcodec_receive_packet(ctx_.get(), packet_.get())) >= 0) {
        const bool ok = write(packet_.get());
        av_packet_unref(packet_.get());
        if (!ok) return false;
    }
    return err == AVERROR(EAGAIN) || err == AVERROR_EOF ||
           fail(std::string("cannot encode with ") + codec_->name, err);
}

bool FfmpegEncoder::write(AVPacket* packet) {
    if (!ogg()) {
        out_.append(reinterpret_cast<const char*>(packet->data), std::size_t(packet->size));
        return true;
    }
    AVStream* st = mux_->streams[0];
    packet->stream_index = 0;
    av_packet_rescale_ts(packet, ctx_->time_base, st->time_base);
    const int err = av_write_frame(mux_.get(), packet);
    return err >= 0 || fail("cannot write the Ogg stream", err);
}

// What the encoder holds back, then the stream's last page.
bool FfmpegEncoder::endStream() {
    if (!send(nullptr)) return false;
    if (!ogg()) return true;
    const int err = av_write_trailer(mux_.get());
    if (err < 0) return fail("cannot end the Ogg stream", err);
    mux_.reset();
    return true;
}

bool FfmpegEncoder::Retitle(const Tags& tags) {
    if (!error_.empty()) return false;
    if (!ogg()) return true;
    // The samples in the fifo wait for the new stream's encoder.
    return endStream() && openCodec() && openMuxer(tags);
}

bool FfmpegEncoder::Finish() {
    if (!error_.empty()) return false;
    return encodeRest() && endStream();
}

}  // namespace

std::unique_ptr<Encoder> Encoder::Create(Format format, int kbps, int inputRate, const Tags& tags,
                                         std::string& error) {
    auto encoder = std::make_unique<FfmpegEncoder>();
    if (encoder->open(format, kbps, inputRate, tags)) return encoder;
    error = encoder->Error();
    return nullptr;
}

}  // namespace onair
