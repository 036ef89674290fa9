#include "OutputDevices.h"

#if defined(KAV_HAVE_BASSBIND)
#include "platform/bassbind/Dynamic_BASS.h"
#endif

OutputDeviceList QueryOutputDevices([[maybe_unused]] const std::string& appDir) {
    OutputDeviceList list;
#if defined(KAV_HAVE_BASSBIND)
    if (!Load_BASSDLL(appDir + "/bass.dll")) return list;
    for (unsigned i = 1; i <= 255; ++i) {
        const char* description = BASS_GetDeviceDescription(i);
        if (!description) break;
        list.descriptions.emplace_back(description);
    }
    list.current = int(BASS_GetDevice());
#endif
    return list;
}
