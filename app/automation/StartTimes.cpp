#include "StartTimes.h"

#include <algorithm>
#include <vector>

void TStartTimes::Note(const std::string& path, std::uint32_t ms) {
    if (byFile_.size() >= kFilesKept && !byFile_.contains(path)) byFile_.clear();
    byFile_[path] = ms;
    latest_.push_back(ms);
    if (latest_.size() > kLatestKept) latest_.pop_front();
}

std::uint32_t TStartTimes::Guess(const std::string& path) const {
    if (const auto it = byFile_.find(path); it != byFile_.end()) return it->second;
    if (latest_.empty()) return kFirstGuessMs;
    std::vector<std::uint32_t> sorted(latest_.begin(), latest_.end());
    std::nth_element(sorted.begin(), sorted.begin() + long(sorted.size() / 2), sorted.end());
    return sorted[sorted.size() / 2];
}
