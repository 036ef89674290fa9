// Tones between silences, measured to the sample: what the program's
// capture holds and what a listener decoded from a stream, compared tone by
// tone (their order, their frequencies, their lengths).
#pragma once

#include <string>
#include <vector>

#include "tests/support/Capture.h"

namespace nettest {

struct ToneRun {
    int freq = 0;        // Hz, to the nearest 10
    double start = 0;    // seconds into the recording
    double seconds = 0;  // how long it sounds
};

// The tones of a recording that sound at least minSeconds, apart by
// silences of at least gapSeconds.
std::vector<ToneRun> toneRuns(const bass_test::Capture& heard, double minSeconds = 0.1,
                              double gapSeconds = 0.1);
std::string describe(const std::vector<ToneRun>& runs);

// Decodes an audio file (or a stream's recording) to a 44.1 kHz stereo WAV
// with ffmpeg; false when it cannot.
bool decodeToWav(const std::string& input, const std::string& wav);

// Empty when `heard` holds the tones of `sent` in the same order, each
// within tolerance seconds of its length there (the first and last tone of
// `heard` may be cut by the recording's start and end, and are not
// compared); else what differs. heard may begin later in sent.
std::string sameTones(const std::vector<ToneRun>& sent, const std::vector<ToneRun>& heard,
                      double tolerance);

}  // namespace nettest
