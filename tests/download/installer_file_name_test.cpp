#include "download/installer_file_name.h"

#include <gtest/gtest.h>

namespace tarvik::download {
namespace {

TEST(InstallerFileName, TakesASafeNameFromTheUrl) {
    const struct {
        const wchar_t* url;
        const wchar_t* name;
    } cases[] = {
        {L"https://example.test/files/Setup.exe", L"Setup.exe"},
        {L"https://example.test/Setup.exe?t=1", L"Setup.exe"},
        {L"https://example.test/Setup.exe#part", L"Setup.exe"},
        {L"https://example.test/Setup.exe#a?b", L"Setup.exe"},
        // The last '/' may sit in the query; the name is what follows it.
        {L"https://example.test/get?f=a/b.exe", L"b.exe"},
        {L"https://example.test/My%20Setup.exe", L"My Setup.exe"},
        {L"https://example.test/%E5%AE%89%E8%A3%85.exe", L"\u5b89\u88c5.exe"},
        {L"https://example.test/\u5b89\u88c5.exe", L"\u5b89\u88c5.exe"},
        // Escapes that decode to separators or controls cannot leave the folder or hide text.
        {L"https://example.test/..%2F..%2Fetc%2Fpasswd", L".._.._etc_passwd"},
        {L"https://example.test/a%5Cb.exe", L"a_b.exe"},
        {L"https://example.test/a%00b%0Ac%7F.exe", L"a_b_c_.exe"},
        {L"https://example.test/a%C2%85b", L"a_b"},
        {L"https://example.test/a\\b.exe", L"a_b.exe"},
        // Broken escapes stay as written; bytes that are no UTF-8 become U+FFFD.
        {L"https://example.test/100%.exe", L"100%.exe"},
        {L"https://example.test/a%2", L"a%2"},
        {L"https://example.test/a%zz", L"a%zz"},
        {L"https://example.test/a%FF.exe", L"a\ufffd.exe"},
        // Nothing usable left: a fixed name.
        {L"https://example.test/", L"setup"},
        {L"https://example.test/?name=x.exe", L"setup"},
        {L"https://example.test/.", L"setup"},
        {L"https://example.test/..", L"setup"},
        {L"https://example.test/%2E%2E", L"setup"},
        {L"https://example.test/%2E%2E?x", L"setup"},
        {L"no-slash-at-all", L"setup"},
        {L"", L"setup"},
        // A name made only of dots beyond ".." is an ordinary file name.
        {L"https://example.test/...", L"..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.url);
        EXPECT_EQ(InstallerFileName(c.url), c.name);
    }
}

} // namespace
} // namespace tarvik::download
