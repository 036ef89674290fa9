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

// Unclean ends in a row, the last one included, with `what` in use then:
// what was playing at the end before is kept as the suspect with its count.
int uncleanEndsWith(const std::string& text, const std::string& what, const char* suspectKey,
                    const char* countKey) {
    return (valueOf(text, suspectKey) == what ? numberOf(text, countKey) : 0) + 1;
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
        last.plugin = valueOf(text, kPluginKey);
        if (!last.ended && !last.item.file.empty())
            last.uncleanEnds = uncleanEndsWith(text, last.item.file, "suspeito", "quedas");
        if (!last.ended && !last.plugin.empty())
            last.pluginUncleanEnds =
                uncleanEndsWith(text, last.plugin, "plugin_suspeito", "plugin_quedas");
    }
    text_ = text;
    SetValue("limpo", "0");
    SetValue("quedas", std::to_string(last.uncleanEnds));
    SetValue("suspeito", last.uncleanEnds > 0 ? last.item.file : "");
    SetValue("plugin_quedas", std::to_string(last.pluginUncleanEnds));
    SetValue("plugin_suspeito", last.pluginUncleanEnds > 0 ? last.plugin : "");
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
