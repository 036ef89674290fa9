// The main window's stream outputs: [transmissao1] to [transmissao4] read at
// start and applied at once, the "Transmissão..." dialog, what plays told to
// the outputs, and their reports as station events. kav.ini is kept private
// (mode 0600) while it holds a password.
#include <cstdio>
#include <ctime>

#include "OnAirDialog.h"
#include "StationParts.h"
#include "Unit1.h"
#include "app/onair/BassTap.h"
#include "app/onair/OnAir.h"

namespace {

// What an output holds when its thread falls behind: sound is lost past this.
constexpr unsigned kTapMs = 3000;

}  // namespace

void TForm1::startOnAir() {
    OnAir_ = std::make_unique<onair::OnAir>(
        []() -> std::unique_ptr<onair::AudioSource> { return onair::BassTap::Open(kTapMs); });
    const onair::AllSettings settings = onair::ReadAll(*Settings);
    for (int n = 1; n <= onair::kOutputs; ++n)
        keepOnAirSection_[size_t(n - 1)] = Settings->ValueExists(onair::SectionName(n), "servidor");
    OnAir_->Apply(settings);
}

void TForm1::stopOnAir() {
    OnAir_.reset();
}

// Where the outputs learn what plays: the one place to point elsewhere.
void TForm1::tellOutputsNowPlaying(const std::string& artist, const std::string& title) {
    if (OnAir_) OnAir_->SetNowPlaying(artist, title);
}

// On the station's tick: the outputs' reports, as events (outages and lost
// sound also run the alarm command; an outage's end is a line only).
void TForm1::onAirTick() {
    if (!OnAir_) return;
    for (const onair::Report& r : OnAir_->TakeReports()) {
        if (r.kind == onair::Report::Kind::Back || !Station) {
            std::fprintf(stderr, "%s\n",
                         station::EventLine(std::time(nullptr), onair::kEvent, r.text).c_str());
            std::fflush(stderr);
        } else {
            Station->events.Report(onair::kEvent, r.text);
        }
    }
}

void TForm1::TransmissaoClick() {
    if (!OnAir_) return;
    auto* dialog = new TOnAirDialog(
        this, OnAir_->Settings(), [this] { return OnAir_->Statuses(); },
        [this](const onair::AllSettings& settings) { applyOnAir(settings); });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();  // the program goes on behind it
}

// Written within the save's two seconds, like every other setting.
void TForm1::applyOnAir(const onair::AllSettings& settings) {
    for (size_t i = 0; i < settings.size(); ++i)
        keepOnAirSection_[i] = keepOnAirSection_[i] || settings[i] != onair::OutputSettings{};
    OnAir_->Apply(settings);
}

// Only the sections that were there or were set in the dialog: without
// outputs, kav.ini stays as it was.
std::vector<win::IniValue> TForm1::onAirValues() const {
    std::vector<win::IniValue> values;
    if (!OnAir_) return values;
    for (int n = 1; n <= onair::kOutputs; ++n)
        if (keepOnAirSection_[size_t(n - 1)])
            for (win::IniValue& v : onair::OutputValues(n, OnAir_->Settings()[size_t(n - 1)]))
                values.push_back(std::move(v));
    return values;
}

bool TForm1::settingsHoldPassword() const {
    return OnAir_ && onair::HoldsPassword(OnAir_->Settings());
}
