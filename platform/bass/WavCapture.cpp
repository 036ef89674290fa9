#include "WavCapture.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace kavbass {

namespace {

using Clock = std::chrono::steady_clock;

// How often the thread writes what has come, and how much the ring holds:
// a thread held up for over a second loses audio.
constexpr auto kWriteEvery = std::chrono::milliseconds(20);
constexpr double kRingSeconds = 1.5;
constexpr auto kLossReportEvery = std::chrono::minutes(1);

void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

}  // namespace

WavCapture::WavCapture(const std::string& path, uint32_t rate)
    : path_(path),
      rate_(rate),
      ring_(size_t(rate * kRingSeconds)),
      // One output period at a time: the header then trails the data by at
      // most one period, as when every period was written as it came.
      period_(size_t(rate / 100) * 2),
      nextLossReport_(Clock::now() + kLossReportEvery) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ >= 0) writeHeader();
    thread_ = std::thread([this] { run(); });
}

WavCapture::~WavCapture() {
    {
        std::lock_guard<std::mutex> lk(stopMtx_);
        stop_ = true;
    }
    stopCv_.notify_all();
    thread_.join();
    flush();
    if (fd_ >= 0) ::close(fd_);
}

void WavCapture::run() {
    std::unique_lock<std::mutex> lk(stopMtx_);
    while (!stopCv_.wait_for(lk, kWriteEvery, [this] { return stop_; })) {
        lk.unlock();
        flush();
        reportLoss();
        lk.lock();
    }
}

void WavCapture::flush() {
    std::lock_guard<std::mutex> lk(writing_);
    drain();
}

void WavCapture::drain() {
    while (size_t n = ring_.read(period_.data(), period_.size() / 2)) append(period_.data(), n);
}

void WavCapture::reportLoss() {
    const auto now = Clock::now();
    if (now < nextLossReport_) return;
    nextLossReport_ = now + kLossReportEvery;
    const uint64_t lost = ring_.lost();
    if (lost == lostReported_) return;
    std::fprintf(stderr, "bass.dll: %s: %.0f ms of audio lost in the last minute (written late)\n",
                 path_.c_str(), double(lost - lostReported_) * 1000.0 / rate_);
    lostReported_ = lost;
}

void WavCapture::writeHeader() {
    // The data size is capped so the 32-bit fields stay valid.
    const uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(dataBytes_, 0xFFFFFFFFu - 36));
    unsigned char h[44];
    std::memcpy(h, "RIFF", 4);
    put32(h + 4, 36 + data);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    put32(h + 16, 16);
    put16(h + 20, 1);  // PCM
    put16(h + 22, 2);
    put32(h + 24, rate_);
    put32(h + 28, rate_ * 4);
    put16(h + 32, 4);
    put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    put32(h + 40, data);
    if (::pwrite(fd_, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h)) {
        ::close(fd_);
        fd_ = -1;
    }
}

void WavCapture::append(const int16_t* frames, size_t frameCount) {
    if (fd_ < 0 || frameCount == 0) return;
    const size_t bytes = frameCount * 4;
    // Samples are written little-endian, as the file format wants.
    if (::pwrite(fd_, frames, bytes, static_cast<off_t>(44 + dataBytes_)) !=
        static_cast<ssize_t>(bytes)) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    dataBytes_ += bytes;
    writeHeader();
}

}  // namespace kavbass
