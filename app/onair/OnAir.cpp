#include "OnAir.h"

#include <utility>

namespace onair {

OnAir::OnAir(std::function<std::unique_ptr<AudioSource>()> source, Timings timings)
    : source_(std::move(source)), timings_(timings) {
    for (OutputSettings& s : settings_) s.server.clear();  // all off until told
}

OnAir::~OnAir() {
    std::array<std::unique_ptr<StreamOutput>, kOutputs> gone;
    {
        std::lock_guard<std::mutex> lk(mtx_);
        gone.swap(outputs_);
    }
    stopAll(gone);
}

// All asked at once, then waited for: they end together.
void OnAir::stopAll(std::array<std::unique_ptr<StreamOutput>, kOutputs>& outputs) {
    for (auto& o : outputs)
        if (o) o->Stop();
    for (auto& o : outputs) o.reset();
}

void OnAir::Apply(const AllSettings& settings) {
    std::array<std::unique_ptr<StreamOutput>, kOutputs> gone;
    std::array<bool, kOutputs> start{};
    {
        std::lock_guard<std::mutex> lk(mtx_);
        for (int i = 0; i < kOutputs; ++i) {
            const OutputSettings& s = settings[size_t(i)];
            auto& running = outputs_[size_t(i)];
            if (running && running->Settings() == s) continue;
            gone[size_t(i)] = std::move(running);
            start[size_t(i)] = s.On();
        }
        settings_ = settings;
    }
    // The old connection ends before the new one begins: the mount is free.
    stopAll(gone);
    const StreamOutput::Hooks hooks{
        .openSource = source_,
        .report =
            [mailbox = mailbox_](const Report& r) {
                std::lock_guard<std::mutex> lk(mailbox->mtx);
                mailbox->reports.push_back(r);
            },
    };
    std::lock_guard<std::mutex> lk(mtx_);
    for (int i = 0; i < kOutputs; ++i)
        if (start[size_t(i)])
            outputs_[size_t(i)] =
                std::make_unique<StreamOutput>(i + 1, settings[size_t(i)], title_, hooks, timings_);
}

void OnAir::SetNowPlaying(const std::string& artist, const std::string& title) {
    std::lock_guard<std::mutex> lk(mtx_);
    title_ = {artist, title};
    for (auto& o : outputs_)
        if (o) o->SetTitle(title_);
}

std::array<Status, kOutputs> OnAir::Statuses() const {
    std::array<Status, kOutputs> all;
    std::lock_guard<std::mutex> lk(mtx_);
    for (int i = 0; i < kOutputs; ++i)
        if (outputs_[size_t(i)]) all[size_t(i)] = outputs_[size_t(i)]->GetStatus();
    return all;
}

std::vector<Report> OnAir::TakeReports() {
    std::lock_guard<std::mutex> lk(mailbox_->mtx);
    return std::exchange(mailbox_->reports, {});
}

}  // namespace onair
