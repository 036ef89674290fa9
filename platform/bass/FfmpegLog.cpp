#include "FfmpegLog.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace kavbass {

namespace {

constexpr size_t kMaxText = 1024;
thread_local FfmpegErrors* tlsErrors = nullptr;

void logLine(void* /*avcl*/, int level, const char* fmt, va_list args) {
    if (level > AV_LOG_ERROR || !tlsErrors) return;
    char line[512];
    std::vsnprintf(line, sizeof line, fmt, args);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!text.empty()) tlsErrors->add(text);
}

}  // namespace

void quietFfmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_QUIET);
        av_log_set_callback(logLine);
    });
}

FfmpegErrors::FfmpegErrors() : outer_(tlsErrors) {
    tlsErrors = this;
}

FfmpegErrors::~FfmpegErrors() {
    tlsErrors = outer_;
}

void FfmpegErrors::add(const std::string& line) {
    if (text_.size() >= kMaxText) return;
    if (!text_.empty()) text_ += "; ";
    text_ += line.substr(0, kMaxText - text_.size());
}

}  // namespace kavbass
