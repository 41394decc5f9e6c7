#include "service/info_answer.h"

#include <nlohmann/json.hpp>

namespace tarvik::service {
namespace {

ProductInfo Failed(ServiceFailure failure) {
    return ProductInfo{std::nullopt, std::nullopt, failure};
}

} // namespace

ProductInfo ParseInfoAnswer(std::string_view body) {
    // The JSON reader takes a zero byte for the end of its input even when it is given the whole
    // length (it stops there as at the end of a C string), so "{...}\0 junk" would read as the
    // object alone. JSON text never holds a raw zero byte, so such a body is no answer.
    if (body.find('\0') != std::string_view::npos)
        return Failed(ServiceFailure::Malformed);
    const nlohmann::json answer =
        nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
    if (answer.is_discarded() || !answer.is_object())
        return Failed(ServiceFailure::Malformed);

    const auto code = answer.find("code");
    // JSON comparison, so 200, 200.0 and an unsigned 200 match while the string "200" does not.
    if (code == answer.end() || *code != 200)
        return Failed(ServiceFailure::Declined);

    const auto data = answer.find("data");
    if (data == answer.end() || !data->is_object())
        return Failed(ServiceFailure::Malformed);
    const auto name = data->find("name");
    if (name == data->end() || !name->is_string())
        return Failed(ServiceFailure::Malformed);

    ProductInfo info;
    info.name = name->get<std::string>();
    const auto url1 = data->find("url1");
    if (url1 != data->end() && url1->is_string())
        info.pageUrl = url1->get<std::string>();
    return info;
}

} // namespace tarvik::service
