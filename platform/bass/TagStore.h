// Tags of one channel by kind. Texts handed out stay valid until the channel
// is freed, even when a newer text replaces them meanwhile.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "bass_types.h"

namespace kavbass {

class TagStore {
  public:
    void set(DWORD kind, std::string value) {
        if (value.empty()) return;
        std::lock_guard<std::mutex> lk(mtx_);
        auto& versions = tags_[kind];
        if (!versions.empty() && versions.back() == value) return;
        versions.push_back(std::move(value));
        // Old versions are kept a while for readers that still hold them.
        if (versions.size() > kKeptVersions) versions.pop_front();
    }
    const char* get(DWORD kind) const {
        std::lock_guard<std::mutex> lk(mtx_);
        auto it = tags_.find(kind);
        return it == tags_.end() || it->second.empty() ? nullptr : it->second.back().c_str();
    }

  private:
    static constexpr size_t kKeptVersions = 64;
    mutable std::mutex mtx_;
    std::map<DWORD, std::deque<std::string>> tags_;
};

}  // namespace kavbass
