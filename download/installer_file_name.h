#pragma once

#include <string>
#include <string_view>

namespace tarvik::download {

// The installer's file name taken from its URL: the text after the last '/', cut at the first
// '?' or '#', percent-decoded; '/', '\\', control characters and what Windows refuses in a name
// (< > : " | ? *) become '_'; trailing dots and blanks go; a name left empty becomes "setup"; a
// device name of Windows (CON, NUL, COM1, "nul.exe" and so on) gets a leading '_'; bytes that are
// no UTF-8 become U+FFFD. UTF-8 in and out. The same on every system, so that the result names a
// plain file inside the folder it is put in on each of them, never a drive, a stream or a device.
std::string InstallerFileName(std::string_view url);

// The longest file name, in bytes, that the file systems the program saves to take.
inline constexpr size_t kLongestFileName = 255;

// The UTF-8 name a download is saved under when the names before it are taken: `number` 0 is
// `name` itself, then "Setup (1).exe", "Setup (2).exe" and so on, as browsers number them. A name
// longer than `longest` bytes is shortened before its extension (at a character boundary), so
// that it keeps its extension and still opens as before; an extension too long to keep goes with
// the rest.
std::string NumberedFileName(std::string_view name, unsigned number,
                             size_t longest = kLongestFileName);

// `target`, a path, with its file name numbered as NumberedFileName does and its folder left as it
// is. The name starts after the last '/' or '\\', which Windows paths use: a file name from
// InstallerFileName never holds either.
std::string NumberedTarget(std::string_view target, unsigned number);

} // namespace tarvik::download
