#include "StartTimes.h"

#include <algorithm>
#include <vector>

namespace {

void Keep(std::deque<std::uint32_t>& kept, std::uint32_t ms, std::size_t most) {
    kept.push_back(ms);
    if (kept.size() > most) kept.pop_front();
}

// The middle one of what was kept (the later of the two middle ones of an
// even count, which leans towards starting early enough).
std::uint32_t Median(const std::deque<std::uint32_t>& kept) {
    std::vector<std::uint32_t> sorted(kept.begin(), kept.end());
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    return sorted[sorted.size() / 2];
}

}  // namespace

void TStartTimes::Note(const std::string& path, std::uint32_t ms) {
    if (byFile_.size() >= kFilesKept && !byFile_.contains(path)) byFile_.clear();
    Keep(byFile_[path], ms, kKeptPerFile);
    Keep(latest_, ms, kLatestKept);
}

std::uint32_t TStartTimes::Guess(const std::string& path) const {
    if (const auto it = byFile_.find(path); it != byFile_.end()) return Median(it->second);
    return latest_.empty() ? kFirstGuessMs : Median(latest_);
}
