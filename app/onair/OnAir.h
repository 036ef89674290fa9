// The program's stream outputs ([transmissao1] to [transmissao4]): each that
// is on runs as a StreamOutput of its own; new settings take effect at once,
// restarting only the outputs whose settings changed. What plays reaches
// them through SetNowPlaying.
//
// Threads: SetNowPlaying() may be called from any thread; everything else
// from the program's GUI thread. The outputs' reports wait in a mailbox for
// TakeReports() (the GUI thread polls it), so an output's thread never calls
// into the program.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AudioSource.h"
#include "OnAirSettings.h"
#include "StreamOutput.h"

namespace onair {

class OnAir {
  public:
    // source: opens what an output sends (on the output's thread).
    explicit OnAir(std::function<std::unique_ptr<AudioSource>()> source, Timings timings = {});
    // Stops every output: their connections end at once.
    ~OnAir();
    OnAir(const OnAir&) = delete;
    OnAir& operator=(const OnAir&) = delete;

    void Apply(const AllSettings& settings);
    const AllSettings& Settings() const { return settings_; }
    // What plays now, for every output's listeners (empty texts: nothing known).
    void SetNowPlaying(const std::string& artist, const std::string& title);
    std::array<Status, kOutputs> Statuses() const;
    // The reports the outputs made since the last call, oldest first.
    std::vector<Report> TakeReports();

  private:
    struct Mailbox {
        std::mutex mtx;
        std::vector<Report> reports;
    };
    void stopAll(std::array<std::unique_ptr<StreamOutput>, kOutputs>& outputs);

    std::function<std::unique_ptr<AudioSource>()> source_;
    Timings timings_;
    AllSettings settings_;
    std::shared_ptr<Mailbox> mailbox_ = std::make_shared<Mailbox>();
    mutable std::mutex mtx_;  // the outputs and the title, for SetNowPlaying
    std::array<std::unique_ptr<StreamOutput>, kOutputs> outputs_;
    Tags title_;
};

}  // namespace onair
