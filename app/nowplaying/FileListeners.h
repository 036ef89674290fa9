// The listeners that keep the station's files through a FileWriter: the
// as-run log (a line for each item's outcome) and the now-playing files
// (rewritten on every change, then the ao_mudar command). GUI thread only,
// as the Notifier that tells them.
#pragma once

#include <string>

#include "AsRun.h"
#include "FileWriter.h"
#include "NowPlaying.h"
#include "NowPlayingFiles.h"

namespace nowplaying {

class AsRunLog : public Listener {
  public:
    explicit AsRunLog(FileWriter& writer) : writer_(writer) {}
    void Finished(const Played& played) override {
        writer_.AppendLine(AsRunFileName(played), AsRunLine(played));
    }

  private:
    FileWriter& writer_;
};

class NowPlayingFiles : public Listener {
  public:
    // command: run with agora.json's path after each change (may be empty).
    NowPlayingFiles(FileWriter& writer, std::string command)
        : writer_(writer), command_(std::move(command)) {}
    void Changed(const Snapshot& now) override {
        writer_.ReplaceNowPlaying(NowPlayingJson(now), NowPlayingText(now), command_);
    }

  private:
    FileWriter& writer_;
    std::string command_;
};

}  // namespace nowplaying
