// Keeping kav.ini and both lists on disk: each is written (atomically, as at
// exit) within two seconds of a change, so that a crash, a kill or a power cut
// loses little; all of them are written at exit. A file that cannot be written
// is reported once, without waiting, until a write of it succeeds again.
#include <sys/stat.h>

#include <QAction>
#include <QMenu>

#include "ListFiles.h"
#include "StationSettings.h"
#include "StationState.h"
#include "Unit1.h"
#include "platform/win/AtomicFile.h"
#include "platform/win/ProgramDir.h"
#include "widgets/RXSlider.h"

namespace {

constexpr unsigned kSaveCheckMs = 1000;
// A write that failed is tried again after this many checks (or at exit), not
// at every check: a full disk would otherwise take a list's whole text each time.
constexpr int kChecksAfterFailure = 30;

std::size_t combine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
}

// The playing position changes all the time while something plays: it is
// kept out of the digest of the settings and written without waiting for the
// disk when it is all that changed (it outlives a crash of the program).
bool isPosition(const win::IniValue& v) {
    return v.key == "posicao" && v.section == station::kSection;
}

std::size_t digestOf(const std::vector<win::IniValue>& values) {
    std::size_t digest = values.size();
    for (const win::IniValue& v : values) {
        if (isPosition(v)) continue;
        for (const std::string* s : {&v.section, &v.key, &v.value})
            digest = combine(digest, std::hash<std::string>{}(*s));
    }
    return digest;
}

std::size_t positionOf(const std::vector<win::IniValue>& values) {
    for (const win::IniValue& v : values)
        if (isPosition(v)) return std::hash<std::string>{}(v.value);
    return 0;
}

// Of every cell a list file is made from: all but the marker column. Much
// cheaper than the file's text, which need not be made when nothing changed.
std::size_t digestOf(const StringGrid& grid) {
    std::size_t digest = std::size_t(grid.RowCount());
    for (int r = 1; r < grid.RowCount(); ++r)
        for (int c = 1; c < grid.ColCount(); ++c)
            digest = combine(digest, std::hash<std::string>{}(grid.Cell(c, r)));
    return digest;
}

// Counts down the checks a failed file waits; true when it may be written.
bool due(int& checksToSkip) {
    if (checksToSkip <= 0) return true;
    --checksToSkip;
    return false;
}

}  // namespace

std::string TForm1::keptPath(const KeptFile& file) const {
    return DataDir + win::PathDelim + file.name;
}

void TForm1::removeLeftoverTemporaries() {
    for (const KeptFile* file : {&keptIni_, &keptPlaylist_, &keptProgramme_})
        win::RemoveLeftoverTemporaries(keptPath(*file));
    win::RemoveLeftoverTemporaries(DataDir + win::PathDelim + station::kStateFileName);
}

std::vector<win::IniValue> TForm1::settingsValues() {
    std::vector<win::IniValue> values;
    auto add = [&values](const char* section, std::string key, int value) {
        values.push_back({section, std::move(key), std::to_string(value)});
    };
    add(kVarios, "pln", int(Automation->FindPlaylistRow()));
    add(kVarios, "volume", volume->Value());
    add(kVarios, "tfade", Run().FadeTime);
    add(kVarios, "repetepl", repetepl->isChecked());
    add(kVarios, "autobaralhar", autobaralhar->isChecked());
    add(kVarios, "compressor", compressor->isChecked());
    const QList<QAction*> devices = mplaca->actions();
    for (qsizetype i = 0; i < devices.size(); ++i) {
        if (!devices[i]->isChecked()) continue;
        add(kVarios, "dev", int(i + 1));
        break;
    }
    for (int c = 1; c < playlistCells.ColCount(); ++c)
        add(kTamanhos, "plc" + std::to_string(c), playlistCells.ColWidth(c));
    for (int c = 1; c < prgmlistCells.ColCount(); ++c)
        add(kTamanhos, "prgmlc" + std::to_string(c), prgmlistCells.ColWidth(c));
    for (win::IniValue& v : stationValues()) values.push_back(std::move(v));
    for (win::IniValue& v : onAirValues()) values.push_back(std::move(v));
    return values;
}

// Every key in one replace of the file; other lines stay as they are.
bool TForm1::saveSettings(bool force, std::string* error) {
    const std::vector<win::IniValue> values = settingsValues();
    const std::size_t digest = digestOf(values), position = positionOf(values);
    const bool settingsChanged = force || digest != keptIni_.savedDigest;
    if (!settingsChanged && position == keptIni_.savedPosition) return true;
    // A password is for this account alone: the replacement takes the old
    // file's mode, so the file is made private before it is written.
    const bool secret = settingsHoldPassword();
    if (secret) ::chmod(Settings->FileName().c_str(), 0600);
    if (!Settings->WriteValues(values, error, settingsChanged)) return false;
    if (secret) ::chmod(Settings->FileName().c_str(), 0600);
    keptIni_.savedDigest = digest;
    keptIni_.savedPosition = position;
    return true;
}

// The grid's revision tells at once that nothing changed; a change of the
// markers alone leaves the digest as it was, and the list is not written.
bool TForm1::saveList(KeptFile& file, const StringGrid& grid,
                      std::string (*textOf)(const StringGrid&), bool force, std::string* error) {
    const unsigned long long revision = grid.Revision();
    if (!force && revision == file.revision) return true;
    const std::size_t digest = digestOf(grid);
    if ((force || digest != file.savedDigest) &&
        !win::WriteFileAtomic(keptPath(file), textOf(grid), error))
        return false;
    file.revision = revision;
    file.savedDigest = digest;
    return true;
}

// What the files hold now counts as saved. A file that could not be written
// now is reported here, once, and not again by the checks that follow.
void TForm1::startKeepingFiles() {
    keptIni_.savedDigest = digestOf(settingsValues());
    keptIni_.savedPosition = positionOf(settingsValues());
    keptPlaylist_.revision = playlistCells.Revision();
    keptPlaylist_.savedDigest = digestOf(playlistCells);
    keptProgramme_.revision = prgmlistCells.Revision();
    keptProgramme_.savedDigest = digestOf(prgmlistCells);
    std::string problems;
    for (KeptFile* file : {&keptIni_, &keptPlaylist_, &keptProgramme_}) {
        std::string error;
        if (win::CanReplaceFile(keptPath(*file), &error)) continue;
        file->failing = true;
        problems += (problems.empty() ? "" : "\n") + error;
    }
    if (!problems.empty()) showMessage(problems);
    SaveTimer.SetInterval(kSaveCheckMs);
    SaveTimer.OnTimer = [this] { saveChanges(); };
    SaveTimer.SetEnabled(true);
}

void TForm1::keepFile(KeptFile& file, bool ok, const std::string& error) {
    if (ok) {
        file.failing = false;
        return;
    }
    file.checksToSkip = kChecksAfterFailure;
    if (file.failing) return;
    file.failing = true;
    showMessage(error);
}

// Not during a fade: a write then could make the fall of the volume stutter.
void TForm1::saveChanges() {
    if (Automation && Automation->Fading()) return;
    std::string error;
    if (due(keptIni_.checksToSkip)) keepFile(keptIni_, saveSettings(false, &error), error);
    if (due(keptPlaylist_.checksToSkip))
        keepFile(keptPlaylist_, saveList(keptPlaylist_, playlistCells, PlaylistText, false, &error),
                 error);
    if (due(keptProgramme_.checksToSkip))
        keepFile(keptProgramme_,
                 saveList(keptProgramme_, prgmlistCells, ProgrammeListText, false, &error), error);
}

// Everything, whatever failed before; one box for all that failed. After a
// signal the box only goes to stderr (nobody is there to close it).
void TForm1::saveAllAtExit() {
    std::string errors, error;
    auto note = [&](bool ok) {
        if (!ok) errors += (errors.empty() ? "" : "\n") + error;
    };
    note(saveSettings(true, &error));
    note(saveList(keptPlaylist_, playlistCells, PlaylistText, true, &error));
    note(saveList(keptProgramme_, prgmlistCells, ProgrammeListText, true, &error));
    if (!errors.empty()) showMessageAndWait(errors);
}
