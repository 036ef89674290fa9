// INI text: finding a key, and writing one into any text. A value written must
// read back as written, and every other key must keep its value.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/win/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    win::ini::FindValue(text, "varios", "volume");
    win::ini::ParseInteger(text);

    const auto before = win::ini::FindValue(text, "tamanhos", "plc1");
    const std::string written = win::ini::SetValue(text, "varios", "pln", "17");
    const auto pln = win::ini::FindValue(written, "VARIOS", "PLN");
    if (!pln || *pln != "17") std::abort();
    if (win::ini::FindValue(written, "tamanhos", "plc1") != before) std::abort();
    return 0;
}
