// The In_Module record of one input plug-in library. Each plug-in is its own
// shared library with this code compiled in, so each has one record and one
// InputPlayer. The plug-in supplies what depends on its format; the transport
// (pause, stop, seek, length, position), volume and pan go to the player and
// the host's output module here.
#pragma once

#include <string>

#include "platform/winamp/In_Module.h"
#include "winamp-plugins/common/InputPlayer.h"

namespace inplug {

// The parts of the record a plug-in writes itself.
struct PluginParts {
    char* description;
    char* extensions;  // "EXT;EXT\0description\0" pairs
    void (*config)(HWND);
    void (*about)(HWND);
    void (*init)();
    void (*getFileInfo)(char* file, char* title, int* length_in_ms);
    // 0 when playing, 1 when the output refuses the format, -1 when the file
    // cannot be opened.
    int (*play)(char* fn);
};

// This library's player, writing to the record's output module.
InputPlayer& player();
// The last path Play opened (empty before), on the host's thread.
const std::string& playingPath();

// The record with own's functions filled in and the player behind the rest;
// the fields the host fills are left as they are. Files are told apart by
// their extensions, and the information box shows the playing path.
In_Module* inputModule(const PluginParts& own);

}  // namespace inplug
