#include "Notifier.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "Paths.h"

namespace nowplaying {
namespace {

Item itemOf(const Attempt& attempt, std::int64_t startMs) {
    Item item;
    item.list = attempt.list;
    item.row = attempt.row;
    item.rule = attempt.rule;
    item.file = attempt.file;
    item.startMs = startMs;
    return item;
}

}  // namespace

CauseScope::CauseScope(Notifier& notifier, const char* reason)
    : notifier_(notifier), previous_(notifier.cause_) {
    notifier.cause_ = reason;
}

CauseScope::~CauseScope() {
    notifier_.cause_ = previous_;
}

void Notifier::Subscribe(Listener& listener) {
    if (std::find(listeners_.begin(), listeners_.end(), &listener) == listeners_.end())
        listeners_.push_back(&listener);
}

void Notifier::Unsubscribe(Listener& listener) {
    std::erase(listeners_, &listener);
}

std::uint32_t Notifier::HeardMs() const {
    if (!current_) return 0;
    return current_->lastPosition - std::min(current_->lastPosition, current_->basePosition);
}

void Notifier::Opened(const Attempt& attempt) {
    pending_ = attempt;
    failedStart_.clear();
    idleSinceMs_ = -1;
}

// A start that did not play is a failed item; when the caller also reports
// it as a failed open, that report finds it on record and adds nothing.
void Notifier::Started(std::int64_t nowMs, bool playing, std::uint32_t positionMs,
                       const StreamTags& tags, bool viaPlugin) {
    const Attempt attempt = pending_.value_or(Attempt{});
    pending_.reset();
    if (!playing) {
        finish({.item = itemOf(attempt, nowMs),
                .endMs = nowMs,
                .result = Result::Failed,
                .reason = viaPlugin ? reason::kPlugin : reason::kStartFailed});
        failedStart_ = attempt.file;
        return;
    }
    if (current_) endCurrent(HeardMs(), Result::Cut, cause_);
    Item item = itemOf(attempt, nowMs);
    item.artist = tags.artist;
    item.title = tags.title;
    item.lengthMs = tags.lengthMs;
    begin(std::move(item), nowMs, 0);
    current_->titleStandsIn = tags.titleStandsIn || tags.title.empty();
    measure(nowMs, positionMs);
    show({true, current_->item});
}

void Notifier::begin(Item item, std::int64_t nowMs, std::uint32_t positionMs) {
    item.id = nextId_++;
    item.startMs = nowMs;
    current_ = Current{.item = std::move(item),
                       .basePosition = positionMs,
                       .lastPosition = positionMs,
                       .lastReadMs = nowMs,
                       .measureUntilMs = nowMs + kMeasureMs};
    idleSinceMs_ = -1;
}

// A reading: the first sound came at nowMs less what has been heard. Only a
// reading past the beginning tells anything; the earliest one is the best.
void Notifier::measure(std::int64_t nowMs, std::uint32_t positionMs) {
    Current& c = *current_;
    if (positionMs < c.basePosition) return;  // not a reading of this item
    c.lastPosition = positionMs;
    c.lastReadMs = nowMs;
    if (positionMs == c.basePosition || nowMs > c.measureUntilMs) return;
    const std::int64_t firstSound = nowMs - std::int64_t(positionMs - c.basePosition);
    if (c.startMeasured && firstSound >= c.item.startMs) return;
    c.item.startMs = firstSound;
    c.startMeasured = true;
    if (shown_.playing && shown_.item.id == c.item.id) shown_.item.startMs = firstSound;
}

void Notifier::Moved(std::int64_t nowMs, std::uint32_t positionMs) {
    if (!current_) return;
    Current& c = *current_;
    c.basePosition = c.lastPosition = positionMs;
    c.lastReadMs = c.item.startMs = nowMs;
    c.measureUntilMs = nowMs + kMeasureMs;
    c.startMeasured = false;
}

// A failed start is told as a failed open at once, if at all: by the next
// tick, a failure of the same file is a new one.
void Notifier::Tick(std::int64_t nowMs, bool playing, bool settled, std::uint32_t positionMs) {
    failedStart_.clear();
    if (current_ && playing && settled) measure(nowMs, positionMs);
    // The engine stopped without the program saying so.
    if (current_ && !playing && !pending_) endCurrent(HeardMs(), Result::Cut, cause_);
    if (playing || pending_ || !shown_.playing) {
        idleSinceMs_ = -1;
        return;
    }
    if (idleSinceMs_ < 0) idleSinceMs_ = nowMs;
    if (nowMs - idleSinceMs_ >= kStopGraceMs) show({});
}

void Notifier::Stopping(std::int64_t nowMs, std::uint32_t positionMs) {
    if (!current_) return;
    read(nowMs, positionMs);
    endCurrent(HeardMs(), Result::Cut, cause_);
}

// The end event may be handled late: what was heard is the last reading and
// the time since, but never more than the rest of the item's length.
std::uint32_t Notifier::heardAtEnd(std::int64_t nowMs) const {
    const Current& c = *current_;
    const std::uint32_t read = HeardMs();
    const std::int64_t since = std::max<std::int64_t>(0, nowMs - c.lastReadMs);
    std::int64_t heard = read + since;
    if (c.item.lengthMs > c.basePosition)
        heard = std::min<std::int64_t>(heard, c.item.lengthMs - c.basePosition);
    return std::uint32_t(std::clamp<std::int64_t>(heard, read, 0xFFFFFFFFll));
}

void Notifier::Ended(std::int64_t nowMs) {
    if (current_) endCurrent(heardAtEnd(nowMs), Result::Complete, "");
}

void Notifier::Failed(std::int64_t nowMs, const Attempt& attempt, bool viaPlugin,
                      const char* known) {
    if (!pending_ && !failedStart_.empty() && failedStart_ == attempt.file) {
        failedStart_.clear();
        return;  // its start is on record already
    }
    std::string why;
    if (known)
        why = known;
    else if (pending_ && pending_->file == attempt.file)
        why = viaPlugin ? reason::kPlugin : reason::kStartFailed;
    else
        why = FailureReason(attempt.file);
    pending_.reset();
    finish(
        {.item = itemOf(attempt, nowMs), .endMs = nowMs, .result = Result::Failed, .reason = why});
}

// The title that ends is a whole item of the stream; the new one goes on
// from where it ended. A stream's first title names what played since it
// began, untitled or under a playlist link's title: no item of its own.
void Notifier::TitleChanged(std::int64_t nowMs, std::uint32_t positionMs,
                            const std::string& title) {
    if (!current_) return;
    if (current_->titleStandsIn) {
        current_->titleStandsIn = title.empty();
        if (title.empty() || current_->item.title == title) return;
        current_->item.title = title;
        return show({true, current_->item});
    }
    if (current_->item.title == title) return;
    read(nowMs, positionMs);
    const std::uint32_t heard = HeardMs();
    Item next = current_->item;
    const std::int64_t start = endOf(heard);
    next.title = title;
    next.startMs = start;
    const bool measured = current_->startMeasured;
    endCurrent(heard, Result::Complete, "");
    begin(std::move(next), start, positionMs);
    current_->lastReadMs = nowMs;
    current_->startMeasured = measured;
    current_->measureUntilMs = 0;  // measured with the stream's first title
    show({true, current_->item});
}

void Notifier::Closing(std::int64_t /*nowMs*/) {
    pending_.reset();
    if (current_) endCurrent(HeardMs(), Result::Cut, reason::kExit);
    if (shown_.playing) show({});
}

// A reading taken outside the ticks: a stop, a new title.
void Notifier::read(std::int64_t nowMs, std::uint32_t positionMs) {
    if (positionMs < current_->basePosition) return;
    current_->lastPosition = positionMs;
    current_->lastReadMs = nowMs;
}

// When the last sound came, given all that was heard: the last reading's
// time and what was heard since. Where the output stalled on the way (a
// live stream run dry, a starved process), this is later than the first
// sound and what was heard.
std::int64_t Notifier::endOf(std::uint32_t heardMs) const {
    const Current& c = *current_;
    const std::int64_t sinceRead = std::int64_t(heardMs) - std::int64_t(HeardMs());
    return std::max(c.item.startMs + heardMs, c.lastReadMs + sinceRead);
}

void Notifier::endCurrent(std::uint32_t heardMs, Result result, const std::string& why) {
    Played played{.item = current_->item,
                  .endMs = endOf(heardMs),
                  .heardMs = heardMs,
                  .result = result,
                  .reason = why};
    current_.reset();
    finish(played);
}

// A listener may subscribe or leave while it is told: the list told is the
// list as it stood.
void Notifier::finish(const Played& played) {
    const std::vector<Listener*> listeners = listeners_;
    for (Listener* l : listeners) l->Finished(played);
}

void Notifier::show(const Snapshot& now) {
    shown_ = now;
    idleSinceMs_ = -1;
    const std::vector<Listener*> listeners = listeners_;
    for (Listener* l : listeners) l->Changed(shown_);
}

std::string FailureReason(const std::string& path) {
    if (paths::IsNetworkAddress(path)) return reason::kServer;
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return reason::kMissing;
    if (ec || status.type() != std::filesystem::file_type::regular) return reason::kUnreadable;
    if (!std::ifstream(path, std::ios::binary)) return reason::kUnreadable;
    return reason::kNotAudio;
}

}  // namespace nowplaying
