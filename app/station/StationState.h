// The run's state on disk, for the next start: whether the run ended in
// order, and the item started last, so that a file that brings the program
// down is known at the next start even when it crashed inside the engine's
// start of it.
//
// The file (estado.ini in the data folder) is in the settings' INI form,
// section [estado]:
//   limpo=0|1                   1 once the run has ended in order
//   lista=playlist|programa     the list of the item started last,
//   linha=N, ficheiro=PATH      its row and file
//   quedas=N, suspeito=PATH     unclean ends in a row while that file played
//   plugin=NAME                 the input plug-in that played the item (none:
//                               the audio library), set with SetValue
//   plugin_quedas=N,            unclean ends in a row while that plug-in
//   plugin_suspeito=NAME        played
// Every other key in the file is kept as it stands, so later versions may
// add their own.
//
// GUI thread only. Each write replaces the whole file (ReplaceFileUnflushed
// for an item, as it must be quick; flushed for the start and the end).
#pragma once

#include <string>

namespace station {

constexpr const char* kStateFileName = "estado.ini";
constexpr const char* kPlaylistName = "playlist";
constexpr const char* kProgrammeName = "programa";
constexpr const char* kPluginKey = "plugin";

struct PlayingItem {
    std::string list;  // kPlaylistName or kProgrammeName
    unsigned row = 0;
    std::string file;
};

struct LastRun {
    bool known = false;         // there was a state file
    bool ended = true;          // it ended in order (or there was no run before)
    PlayingItem item{};         // the item it started last
    int uncleanEnds = 0;        // unclean ends in a row, this one included, with item.file
    std::string plugin{};       // the plug-in that played the item, if one did
    int pluginUncleanEnds = 0;  // unclean ends in a row, this one included, with plugin
};

class StateFile {
  public:
    explicit StateFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    // At start: how the last run ended; this run is marked on disk as not
    // ended (error, when given, tells why that write failed).
    LastRun Begin(std::string* error = nullptr);
    // Before the engine starts an item: on disk when this returns.
    bool ItemStarting(const PlayingItem& item, std::string* error = nullptr);
    // The orderly end.
    bool EndInOrder(std::string* error = nullptr);
    // Sets a key of the state (other than the ones above) for the writes to come.
    void SetValue(const std::string& key, const std::string& value);
    // A key's value as the file held it at Begin, or as set since ("" when absent).
    std::string Value(const std::string& key) const;
    // Writes the state as it stands now, quickly (as ItemStarting does).
    bool Write(std::string* error = nullptr);

  private:
    std::string path_;
    std::string text_;  // what the file holds, as written last
};

}  // namespace station
