#pragma once

#include <nlohmann/json_fwd.hpp>

namespace tarvik::bridge {

// Every text the built-in page shows, in one place, handed to the page as data. The page itself
// holds no words of its own, so translating it means changing only these.
nlohmann::json BuiltInPageTexts();

} // namespace tarvik::bridge
