// How long items took from the open to their first sound, for starting a
// programme entry early enough that its sound comes at its time: per file
// (an entry plays the same file, hour after hour), and, for a file not
// started yet, from the latest starts of any file. Either guess is the median
// of the starts kept, so one slow start (a busy disk, a loaded machine) does
// not make the next entry of that file begin early by as much.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>

class TStartTimes {
  public:
    void Note(const std::string& path, std::uint32_t ms);
    std::uint32_t Guess(const std::string& path) const;

  private:
    static constexpr std::size_t kFilesKept = 256;
    static constexpr std::size_t kLatestKept = 9;
    static constexpr std::size_t kKeptPerFile = 5;
    // A local file opened and started from nothing, with the half of an output
    // period it waits on average for its first mix.
    static constexpr std::uint32_t kFirstGuessMs = 10;
    std::unordered_map<std::string, std::deque<std::uint32_t>> byFile_;
    std::deque<std::uint32_t> latest_;
};
