// libFuzzer entry point for the INI reader and writer. Besides looking for crashes it checks the
// promise the writer makes: after a value is set, reading it back gives that value.
#include "settings/ini_text.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    using tarvik::settings::FindIniValue;
    using tarvik::settings::SetIniValue;

    static constexpr std::string_view kNames[][2] = {
        {"user", "uuid"}, {"root", "downloader_id"}, {"ROOT", "Api_Url"}};
    for (const auto& [section, key] : kNames) {
        FindIniValue(text, section, key);
        const std::string written = SetIniValue(text, section, key, "V1");
        const auto readBack = FindIniValue(written, section, key);
        if (!readBack || *readBack != "V1")
            std::abort();
    }
    return 0;
}
