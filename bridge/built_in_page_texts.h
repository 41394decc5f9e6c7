#pragma once

#include <nlohmann/json_fwd.hpp>

namespace tarvik {
class Catalogue;
}

namespace tarvik::bridge {

// Every text the built-in page shows, in one place, handed to the page as data. The page itself
// holds no words of its own; the texts are in the user's language as `texts` chooses it.
nlohmann::json BuiltInPageTexts(const Catalogue& texts);

} // namespace tarvik::bridge
