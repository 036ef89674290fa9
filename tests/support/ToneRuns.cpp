#include "tests/support/ToneRuns.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace nettest {

namespace {

constexpr int kLoud = 2000;  // a tone at half scale reaches 16384

int roundedFrequency(double f) {
    return int(std::lround(f / 10) * 10);
}

bool sameFrequency(int a, int b) {
    return std::abs(a - b) <= std::max(15, b / 30);
}

}  // namespace

std::vector<ToneRun> toneRuns(const bass_test::Capture& heard, double minSeconds,
                              double gapSeconds) {
    std::vector<ToneRun> runs;
    if (heard.rate == 0) return runs;
    const auto gap = size_t(gapSeconds * heard.rate);
    for (const bass_test::Segment& s : bass_test::segments(heard.left, kLoud, gap)) {
        if (heard.seconds(s.length()) < minSeconds) continue;
        const double f = bass_test::toneFrequency(heard.left, s.begin, s.end, heard.rate);
        runs.push_back({roundedFrequency(f), heard.seconds(s.begin), heard.seconds(s.length())});
    }
    return runs;
}

std::string describe(const std::vector<ToneRun>& runs) {
    std::ostringstream out;
    out.precision(3);
    out << std::fixed;
    for (const ToneRun& r : runs)
        out << r.freq << " Hz at " << r.start << " for " << r.seconds << "; ";
    return out.str();
}

bool decodeToWav(const std::string& input, const std::string& wav) {
    // Bit-exact: a plain 44-byte header, no list of tags before the data.
    const std::string cmd = "ffmpeg -nostdin -loglevel error -y -i '" + input +
                            "' -map_metadata -1 -fflags +bitexact -flags:a +bitexact"
                            " -ar 44100 -ac 2 -c:a pcm_s16le '" +
                            wav + "'";
    return std::system(cmd.c_str()) == 0;
}

std::string sameTones(const std::vector<ToneRun>& sent, const std::vector<ToneRun>& heard,
                      double tolerance) {
    if (heard.size() < 3) return "fewer than three tones heard: " + describe(heard);
    // Where the second tone heard (the first whole one) is among those sent.
    size_t offset = 0;
    while (offset < sent.size() && !sameFrequency(sent[offset].freq, heard[1].freq)) ++offset;
    if (offset == sent.size()) return "the tones heard were not sent: " + describe(heard);
    std::ostringstream problems;
    for (size_t i = 1; i + 1 < heard.size(); ++i) {
        const size_t k = offset + i - 1;
        if (k >= sent.size()) {
            problems << "tone " << i << " heard was never sent; ";
            break;
        }
        if (!sameFrequency(sent[k].freq, heard[i].freq))
            problems << "tone " << i << ": " << heard[i].freq << " Hz heard, " << sent[k].freq
                     << " Hz sent; ";
        else if (std::abs(sent[k].seconds - heard[i].seconds) > tolerance)
            problems << "tone " << i << " (" << heard[i].freq << " Hz): " << heard[i].seconds
                     << " s heard, " << sent[k].seconds << " s sent; ";
    }
    const std::string p = problems.str();
    return p.empty() ? p : p + "\nsent: " + describe(sent) + "\nheard: " + describe(heard);
}

}  // namespace nettest
