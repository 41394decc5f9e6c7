#pragma once

#include <string>
#include <string_view>

namespace tarvik::download {

// The installer's file name taken from its URL: the text after the last '/', cut at the first
// '?' or '#', percent-decoded; '/', '\\' and control characters become '_'; an empty name, "."
// or ".." becomes "setup". The result can never name anything outside the folder it is put in.
std::wstring InstallerFileName(std::wstring_view url);

} // namespace tarvik::download
