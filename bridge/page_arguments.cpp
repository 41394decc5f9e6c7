#include "bridge/page_arguments.h"

#include <cmath>
#include <limits>

namespace tarvik::bridge {

using nlohmann::json;

bool HasMember(const json& data, const char* name) {
    return data.is_object() && data.contains(name);
}

const json& Member(const json& data, const char* name) {
    static const json kNull;
    if (!data.is_object())
        return kNull;
    const auto found = data.find(name);
    return found == data.end() ? kNull : *found;
}

std::string StringArgument(const json& data, const char* name) {
    return Member(data, name).get<std::string>();
}

bool BooleanArgument(const json& data, const char* name) {
    return Member(data, name).get<bool>();
}

int32_t Int32Argument(const json& data, const char* name) {
    const json& value = Member(data, name);
    switch (value.type()) {
    case json::value_t::boolean:
        return value.get<bool>() ? 1 : 0;
    case json::value_t::number_integer:
        return static_cast<int32_t>(static_cast<uint32_t>(value.get<int64_t>()));
    case json::value_t::number_unsigned:
        return static_cast<int32_t>(static_cast<uint32_t>(value.get<uint64_t>()));
    case json::value_t::number_float: {
        const double cut = std::trunc(value.get<double>());
        if (cut < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
            cut > static_cast<double>(std::numeric_limits<int32_t>::max()))
            return std::numeric_limits<int32_t>::min();
        return static_cast<int32_t>(cut);
    }
    default:
        // Let the library report the type it found.
        return value.get<int32_t>();
    }
}

} // namespace tarvik::bridge
