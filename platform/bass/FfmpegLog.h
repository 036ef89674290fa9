// FFmpeg's log, kept quiet: nothing is printed, but what FFmpeg reports as an
// error on a thread while an FfmpegErrors lives there is kept, so that a
// failed open can say why (a certificate that does not check out).
#pragma once

#include <string>

namespace kavbass {

// Installs the quiet log once; any thread may call it.
void quietFfmpegLog();

// Collects the errors FFmpeg reports on the thread that created it, until
// it is destroyed. Created and destroyed on one thread, nested in order.
class FfmpegErrors {
  public:
    FfmpegErrors();
    ~FfmpegErrors();
    FfmpegErrors(const FfmpegErrors&) = delete;
    FfmpegErrors& operator=(const FfmpegErrors&) = delete;
    // The error lines so far, "; "-separated; empty when there were none.
    const std::string& text() const { return text_; }
    void add(const std::string& line);

  private:
    FfmpegErrors* outer_;
    std::string text_;
};

}  // namespace kavbass
