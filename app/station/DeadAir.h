// Dead air: the output stays below a level for a while, or the playing
// position stops moving, while the program is in its playing state. The
// detector only judges; the program around it stops what plays, moves the
// playlist on and, after several such skips in a row, opens the output
// device again.
//
// GUI thread only. Time comes from the program's clock (win::GetTickCount),
// so tests drive it with a manual clock and a level source of their own.
#pragma once

#include <cstdint>
#include <optional>

namespace station {

// The level of what the output took, as the detector reads it.
class OutputLevelSource {
  public:
    virtual ~OutputLevelSource() = default;
    struct Reading {
        double loudestDb = -200.0;  // the loudest stretch since the previous read
        std::uint64_t frames = 0;   // frames the output took meanwhile
    };
    // False when there is no output to measure.
    virtual bool Read(Reading& reading) = 0;
};

struct DeadAirSettings {
    int silenceSeconds = 20;       // 0: no dead-air watch at all
    double silenceDb = -50.0;      // dB relative to full scale
    std::uint32_t stallMs = 5000;  // the position standing still this long
    int skipsBeforeReopen = 3;     // skips in a row after which the device is reopened
};

enum class DeadAirKind { None, Silence, Stall };

struct DeadAirVerdict {
    DeadAirKind kind = DeadAirKind::None;
    std::uint32_t lastedMs = 0;  // how long it had lasted when found
    bool reopenOutput = false;   // this skip is the last of a run in a row
};

class DeadAirDetector {
  public:
    DeadAirDetector(OutputLevelSource& level, DeadAirSettings settings)
        : level_(level), settings_(settings) {}

    bool Enabled() const { return settings_.silenceSeconds > 0; }
    const DeadAirSettings& Settings() const { return settings_; }
    // On every tick. playing: the program is in its playing state (the
    // engine plays, no fade or pause). A verdict other than None counts as a
    // skip; the watch then starts afresh.
    DeadAirVerdict Check(bool playing, std::uint32_t positionMs);

  private:
    void restart();

    OutputLevelSource& level_;
    DeadAirSettings settings_;
    std::optional<std::uint32_t> quietSince_;  // tick count when nothing loud enough began
    std::optional<std::uint32_t> stillSince_;  // tick count since the position stands
    std::optional<std::uint32_t> lastCheck_;   // of the previous check while playing
    std::uint32_t lastPosition_ = 0;
    int skipsInARow_ = 0;
};

}  // namespace station
