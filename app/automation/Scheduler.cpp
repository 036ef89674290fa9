#include "Scheduler.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "Markers.h"
#include "platform/win/Clock.h"
#include "platform/win/MessageBox.h"
#include "platform/win/Messages.h"

namespace {

constexpr int kStartCol = 1;  // "Início"
constexpr std::uint32_t kAfterStopSleepMs = 100;
constexpr std::uint32_t kDayMs = 86'400'000;

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// One field of a time: one or two digits, at most `limit`; -1 otherwise.
int TimeField(const std::string& field, int limit) {
    if (field.empty() || field.size() > 2) return -1;
    int value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value <= limit ? value : -1;
}

std::vector<std::string> SplitFields(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
        fields.push_back(text.substr(start, colon - start));
    fields.push_back(text.substr(start));
    return fields;
}

}  // namespace

std::string FormatSeconds(std::uint32_t seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2u:%.2u:%.2u", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

std::uint32_t ParseTimeOfDay(const std::string& text) {
    const std::vector<std::string> fields = SplitFields(Trimmed(text));
    if (fields.size() < 2 || fields.size() > 3) return 0;
    const int h = TimeField(fields[0], 23);
    const int m = TimeField(fields[1], 59);
    const int s = fields.size() == 3 ? TimeField(fields[2], 59) : 0;
    if (h < 0 || m < 0 || s < 0) return 0;
    return std::uint32_t(((h * 60 + m) * 60 + s) * 1000);
}

std::uint32_t EntryTime(const std::string& cell, unsigned hour) {
    std::string text = ReplaceHour(cell, hour);
    text.erase(std::remove(text.begin(), text.end(), '!'), text.end());
    if (text.find(':') == std::string::npos) return 0;
    return ParseTimeOfDay(text);
}

std::int32_t EntryCount(const std::string& cell) {
    size_t at = cell.find_first_not_of(' ');
    if (at == std::string::npos) return 0;
    const bool negative = cell[at] == '-';
    if (cell[at] == '-' || cell[at] == '+') ++at;
    if (at == cell.size()) return 0;
    std::int64_t value = 0;
    for (; at < cell.size(); ++at) {
        if (cell[at] < '0' || cell[at] > '9') return 0;
        value = value * 10 + (cell[at] - '0');
        if (value > 0x80000000LL) return 0;
    }
    if (negative) value = -value;
    if (value > 0x7FFFFFFFLL) return 0;
    return std::int32_t(value);
}

TScheduler::TScheduler(PlaybackContext& context, PlayerPort& player, TPlayback& playback)
    : ctx_(context), player_(player), playback_(playback) {}

unsigned TScheduler::DueRow(std::uint32_t from, std::uint32_t to, std::uint32_t& time) const {
    for (int r = 1; r <= ctx_.prgmlist.DataRows(); ++r) {
        const std::uint32_t t = EntryTime(ctx_.prgmlist.Cell(kStartCol, r), win::CurrentHour());
        const bool inWindow = from <= to ? t >= from && t <= to : t >= from || t <= to;
        if (t != 0 && inWindow && t != ctx_.LastFired) {
            time = t;
            return unsigned(r);
        }
    }
    return 0;
}

// A reading before the previous one means midnight has passed, or the clock
// was put back (the end of summer time). The window then reaches back from
// now by the time that really passed, as the tick counter measured it, across
// midnight if need be: nothing that came due meanwhile is lost, and nothing of
// the part of the day the clock went back over fires again.
std::uint32_t TScheduler::WindowStart(std::uint32_t now, std::uint32_t tickCount) const {
    if (now >= ctx_.PreviousTick) return ctx_.PreviousTick;
    if (!previousTickCount_) return now;
    const std::uint32_t passed = std::min(tickCount - *previousTickCount_, kDayMs - 1);
    return (now + kDayMs - passed) % kDayMs;
}

// While a fade runs the window of the ticks inside it is not looked at: it
// stays open, and the first tick after the fade reaches back to before it.
void TScheduler::Tick() {
    if (fading_) return;
    const std::uint32_t now = win::TimeOfDayMs();
    if (now == ctx_.PreviousTick) return;
    const std::uint32_t tickCount = win::GetTickCount();
    std::uint32_t time = 0;
    const unsigned row = DueRow(WindowStart(now, tickCount), now, time);
    ctx_.PreviousTick = now;
    previousTickCount_ = tickCount;
    if (row == 0) return;
    ctx_.LastFired = time;
    if (player_.Playing()) FadeOutAndStop();
    playback_.PlayProgrammeRow(row);
}

void TScheduler::FadeOutAndStop() {
    if (fading_) return;  // the running fade ends with the engine stopped
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(fading_);
    if (ctx_.BeginFade) ctx_.BeginFade();
    const int slider = ctx_.VolumeValue ? ctx_.VolumeValue() : 255;
    const std::uint32_t startVolume = std::uint32_t(std::clamp(slider, 0, 255));
    const bool timed = ctx_.FadeTime > 0;
    if (timed) FallToSilence(startVolume, std::uint32_t(ctx_.FadeTime));
    player_.StopPlayback();
    if (timed) win::Sleep(kAfterStopSleepMs);
    player_.SetOutputVolume(startVolume);
    if (ctx_.EndFade) ctx_.EndFade();
}

// A straight line from the start volume toward 0 over fadeTime ms, one unit
// at a time. The loop ends before the end time's volume (0, or a wrapped
// value once the tick counter has run past the end) is set: the stop cuts it.
void TScheduler::FallToSilence(std::uint32_t startVolume, std::uint32_t fadeTime) {
    const std::uint32_t start = win::GetTickCount();
    std::uint32_t last = 0;
    for (;;) {
        const std::uint32_t elapsed = win::GetTickCount() - start;
        if (elapsed >= fadeTime) break;
        const std::uint32_t v =
            std::uint32_t(startVolume - std::uint64_t(startVolume) * elapsed / fadeTime) & 0xFF;
        if (v != last) {
            player_.SetOutputVolume(v);
            win::ProcessMessages();
            last = v;
        }
        win::Sleep(1);
    }
}

bool TScheduler::ProgrammeItemEnded() {
    const unsigned row = FindCurrentRow(ctx_.prgmlist, ctx_.CurrentProgrammeRow);
    if (ctx_.prgmlist.Cell(kStartCol, int(row)).find('!') != std::string::npos) {
        if (ctx_.SetTimerEnabled) ctx_.SetTimerEnabled(false);
        win::MessageBox(0, "Terminado!", "KAV", win::MB_OK | win::MB_WAIT);
        if (ctx_.SetTimerEnabled) ctx_.SetTimerEnabled(true);
        return true;
    }
    if (ctx_.prgmlist.Cell(kStartCol, int(row + 1)).find("...") != std::string::npos) {
        playback_.PlayProgrammeRow(row + 1);
        return true;
    }
    return false;
}

bool TScheduler::StartCountedEntry() {
    ++PlaylistEndCount;
    for (int r = 1; r <= ctx_.prgmlist.DataRows(); ++r) {
        const std::uint32_t n = std::uint32_t(EntryCount(ctx_.prgmlist.Cell(kStartCol, r)));
        if (n != 0 && PlaylistEndCount % n == 0) {
            playback_.PlayProgrammeRow(unsigned(r));
            return true;
        }
    }
    return false;
}
