// libFuzzer entry point for the reader of the service's info answer: no input may throw or
// crash, and a page URL never comes without a name.
#include "service/info_answer.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto info = tarvik::service::ParseInfoAnswer(
        std::string_view(reinterpret_cast<const char*>(data), size));
    if (info.pageUrl && !info.name)
        std::abort();
    return 0;
}
