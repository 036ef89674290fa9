#include "widgets/filever.h"

std::optional<TFileVersion> ExecutableFileVersion() {
    if (!kav_executable_version) return std::nullopt;
    const std::uint16_t* parts = kav_executable_version();
    if (!parts) return std::nullopt;
    return TFileVersion{parts[0], parts[1], parts[2], parts[3]};
}

QString FileVersionText(const std::optional<TFileVersion>& v) {
    if (!v) return {};
    return QString::asprintf("%u.%u.%u.%u", (*v)[0], (*v)[1], (*v)[2], (*v)[3]);
}

QString ShortVersionText(const std::optional<TFileVersion>& v) {
    if (!v) return {};
    return QString::asprintf("%u.%u", (*v)[0], (*v)[1]);
}
