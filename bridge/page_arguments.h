#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace tarvik::bridge {

// Typed reads of a command's arguments. A missing member, a `msg_data` that is not an object, or
// a value of the wrong type makes the command malformed: these throw nlohmann::json::type_error,
// and the caller drops the whole message before the command has done anything.

// Whether `data` is an object with that member (whatever its value).
bool HasMember(const nlohmann::json& data, const char* name);

// The member, or null when `data` is not an object or has no such member.
const nlohmann::json& Member(const nlohmann::json& data, const char* name);

std::string StringArgument(const nlohmann::json& data, const char* name);
bool BooleanArgument(const nlohmann::json& data, const char* name);

// Any JSON number or a boolean (false 0, true 1). An integer keeps its low 32 bits as a signed
// value; a fraction is cut towards zero; a value outside the 32-bit range after cutting gives
// INT32_MIN, as the processor's truncating conversion does.
int32_t Int32Argument(const nlohmann::json& data, const char* name);

} // namespace tarvik::bridge
