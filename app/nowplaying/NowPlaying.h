// What plays, as the program tells everything outside the engine: the item
// (which list and row, the programme entry's start rule, the file, its
// artist, title and length, when it was first heard) and whether anything
// plays at all. The Notifier (Notifier.h) keeps it and tells its listeners of
// every change, and of every item's outcome for the as-run log.
//
// Plain data; times are milliseconds since the epoch (1970, UTC).
#pragma once

#include <cstdint>
#include <string>

namespace nowplaying {

// The lists, as the log and the now-playing files name them.
constexpr const char* kPlaylist = "playlist";
constexpr const char* kProgramme = "programa";

// Why an item could not be played, or was cut short (the log's `motivo`).
namespace reason {
// Not played at all.
constexpr const char* kMissing = "inexistente";   // no such file
constexpr const char* kUnreadable = "ilegivel";   // there, but cannot be read
constexpr const char* kNotAudio = "nao_audio";    // read, but nothing plays it
constexpr const char* kServer = "servidor";       // a network server dead or silent
constexpr const char* kPlugin = "plugin";         // opened, but its plug-in did not start
constexpr const char* kStartFailed = "arranque";  // opened, but the output did not start
constexpr const char* kNoOutput = "sem_saida";    // no output device to play on
// Cut short.
constexpr const char* kStop = "parar";        // "&Parar", or Stop from the desktop
constexpr const char* kPlay = "play";         // "Pla&y" while it played
constexpr const char* kRow = "linha";         // another row chosen (double click, Enter, Next)
constexpr const char* kTime = "hora";         // a programme entry's time came
constexpr const char* kDeadAir = "silencio";  // dead air
constexpr const char* kExit = "saida";        // the program ended
}  // namespace reason

struct Item {
    std::uint64_t id = 0;  // 1, 2, ... for each item, or stream title, of the run
    std::string list;      // kPlaylist or kProgramme
    unsigned row = 0;
    std::string rule;  // the programme entry's start rule; empty for the playlist
    std::string file;  // path or network address
    std::string artist;
    std::string title;
    std::int64_t startMs = 0;    // its first sound
    std::uint32_t lengthMs = 0;  // 0 when not known (a live stream)
};

// What plays now: an item, or nothing.
struct Snapshot {
    bool playing = false;
    Item item;  // the item playing; empty when nothing plays
};

enum class Result { Complete, Cut, Failed, Interrupted };
// "completo", "cortado", "falhou", "interrompido".
const char* ResultName(Result result);

// One item's outcome: a line of the as-run log.
struct Played {
    Item item;
    std::int64_t endMs = 0;     // its last sound (its attempt, for a failure)
    std::uint32_t heardMs = 0;  // how long it was heard
    Result result = Result::Complete;
    std::string reason;  // why it failed or was cut (reason::...), or empty
};

// Told on the GUI thread, by the Notifier, in the order things happen.
class Listener {
  public:
    virtual ~Listener() = default;
    // Every change of what plays: a new item, a new stream title, a stop.
    virtual void Changed(const Snapshot& /*now*/) {}
    // An item ended, was cut, could not be played, or was interrupted by the
    // end of the last run.
    virtual void Finished(const Played& /*played*/) {}
};

// The time now, in ms since the epoch.
std::int64_t WallClockMs();

// "Artista - Título", the title or the artist alone when the other is
// missing, else the file's name: what the program shows as playing.
std::string DisplayText(const Item& item);

}  // namespace nowplaying
