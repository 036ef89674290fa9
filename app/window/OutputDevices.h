// The output devices as the audio library reports them, for the "Placa" menu.
// Kept apart from the window so that it can move into the engine with the
// library binding.
#pragma once

#include <string>
#include <vector>

struct OutputDeviceList {
    std::vector<std::string> descriptions;  // item k stands for device k + 1
    int current = -1;                       // the device in use, from 1; -1 unknown
};

// Binds the library from appDir and asks for devices 1, 2, ... up to 255,
// stopping at the first without a description. Empty when there is no library.
OutputDeviceList QueryOutputDevices(const std::string& appDir);
