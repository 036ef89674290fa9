#include "StationState.h"

#include <algorithm>

#include "platform/win/AtomicFile.h"
#include "platform/win/IniFile.h"
#include "platform/win/ProgramDir.h"

namespace station {
namespace {

constexpr const char* kSection = "estado";

std::string valueOf(const std::string& text, const char* key) {
    return win::ini::FindValue(text, kSection, key).value_or("");
}

int numberOf(const std::string& text, const char* key) {
    return win::ini::ParseInteger(valueOf(text, key)).value_or(0);
}

}  // namespace

LastRun StateFile::Begin(std::string* error) {
    LastRun last;
    std::string text;
    last.known = win::FileExists(path_) && win::ReadWholeFile(path_, text);
    if (last.known) {
        last.ended = numberOf(text, "limpo") != 0;
        last.item = {valueOf(text, "lista"), unsigned(std::max(0, numberOf(text, "linha"))),
                     valueOf(text, "ficheiro")};
        if (!last.ended && !last.item.file.empty())
            last.uncleanEnds =
                (valueOf(text, "suspeito") == last.item.file ? numberOf(text, "quedas") : 0) + 1;
    }
    text_ = text;
    SetValue("limpo", "0");
    SetValue("quedas", std::to_string(last.uncleanEnds));
    SetValue("suspeito", last.uncleanEnds > 0 ? last.item.file : "");
    win::WriteFileAtomic(path_, text_, error);
    return last;
}

bool StateFile::ItemStarting(const PlayingItem& item, std::string* error) {
    SetValue("lista", item.list);
    SetValue("linha", std::to_string(item.row));
    SetValue("ficheiro", item.file);
    return win::ReplaceFileUnflushed(path_, text_, error);
}

bool StateFile::EndInOrder(std::string* error) {
    SetValue("limpo", "1");
    return win::WriteFileAtomic(path_, text_, error);
}

void StateFile::SetValue(const std::string& key, const std::string& value) {
    text_ = win::ini::SetValue(text_, kSection, key, value);
}

std::string StateFile::Value(const std::string& key) const {
    return win::ini::FindValue(text_, kSection, key).value_or("");
}

bool StateFile::Write(std::string* error) {
    return win::ReplaceFileUnflushed(path_, text_, error);
}

}  // namespace station
