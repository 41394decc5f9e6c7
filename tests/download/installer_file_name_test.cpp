#include "download/installer_file_name.h"

#include "common/text_conversion.h"

#include <gtest/gtest.h>

#include <string>

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
        // What Windows would read as a drive, a stream or a device, or refuses in a name, or
        // drops from its end: the same safe name inside the folder on every system.
        {L"https://example.test/D%3ASetup.exe", L"D_Setup.exe"},
        {L"https://example.test/C%3A%5CWindows%5Cx.exe", L"C__Windows_x.exe"},
        {L"https://example.test/Setup.exe%3Ahidden", L"Setup.exe_hidden"},
        {L"https://example.test/a%3Cb%3Ec%22d%7Ce%3Ff%2Ag.exe", L"a_b_c_d_e_f_g.exe"},
        {L"https://example.test/Setup.exe.", L"Setup.exe"},
        {L"https://example.test/Setup.exe%20%20.%20", L"Setup.exe"},
        {L"https://example.test/...", L"setup"},
        {L"https://example.test/%20", L"setup"},
        {L"https://example.test/CON", L"_CON"},
        {L"https://example.test/nul.exe", L"_nul.exe"},
        {L"https://example.test/Com1.tar.gz", L"_Com1.tar.gz"},
        {L"https://example.test/LPT9", L"_LPT9"},
        {L"https://example.test/COM%C2%B9.exe", L"_COM\u00b9.exe"},
        {L"https://example.test/aux%20.exe", L"_aux .exe"},
        {L"https://example.test/CONOUT$", L"_CONOUT$"},
        // Only the whole base name is a device.
        {L"https://example.test/CONSOLE.exe", L"CONSOLE.exe"},
        {L"https://example.test/COM10.exe", L"COM10.exe"},
        {L"https://example.test/COM0", L"COM0"},
        {L"https://example.test/my.nul", L"my.nul"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.url);
        EXPECT_EQ(InstallerFileName(NarrowFromWide(c.url)), NarrowFromWide(c.name));
    }
}

// Numbered as browsers number them, shortened before the extension, never cut inside a
// character, never longer than the limit.
TEST(NumberedFileName, NumbersAndShortensKeepingTheExtension) {
    const std::string longStem(300, 's');
    const std::string wide = std::string(200, 'a') + std::string(30, 'x') + "\xE5\xAE\x89";
    const struct {
        std::string name;
        unsigned number;
        size_t longest;
        std::string expected;
    } cases[] = {
        {"Setup.exe", 0, 255, "Setup.exe"},
        {"Setup.exe", 1, 255, "Setup (1).exe"},
        {"Setup.exe", 12, 255, "Setup (12).exe"},
        {"archive.tar.gz", 2, 255, "archive.tar (2).gz"},
        {"setup", 1, 255, "setup (1)"},
        {".hidden", 1, 255, ".hidden (1)"},
        {longStem + ".exe", 0, 255, std::string(251, 's') + ".exe"},
        {longStem + ".exe", 3, 255, std::string(247, 's') + " (3).exe"},
        // A three-byte character that does not fit whole goes whole.
        {wide + "\xE5\xAE\x89.exe", 0, 235, wide.substr(0, 230) + ".exe"},
        {wide + ".exe", 0, 236, wide.substr(0, 230) + ".exe"},
        // An "extension" too long to be one is cut with the rest.
        {"a." + longStem, 0, 255, ("a." + longStem).substr(0, 255)},
        // A cut that would end the name in dots or blanks, which Windows drops, ends before them;
        // a name that is only those gets the name for no name.
        {std::string(251, 'a') + ". . " + longStem, 0, 255, std::string(251, 'a')},
        {std::string(260, ' ') + "x", 0, 255, "setup"},
        // With a number after it, the blank before the number is harmless and stays.
        {std::string(250, 'a') + "  " + longStem, 1, 255, std::string(250, 'a') + "  (1)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << " #" << c.number);
        const std::string name = NumberedFileName(c.name, c.number, c.longest);
        EXPECT_EQ(name, c.expected);
        EXPECT_LE(name.size(), c.longest);
    }
}

// Only the file name is numbered, whatever dots the folders have, in Windows paths as in POSIX
// ones.
TEST(NumberedTarget, NumbersTheFileNameOnly) {
    const struct {
        std::string target;
        unsigned number;
        std::string expected;
    } cases[] = {
        {R"(C:\Users\first.last\Downloads\setup)", 1, R"(C:\Users\first.last\Downloads\setup (1))"},
        {R"(C:\Users\first.last\Downloads\Setup.exe)", 2,
         R"(C:\Users\first.last\Downloads\Setup (2).exe)"},
        {R"(\\server\share.d\Setup.exe)", 1, R"(\\server\share.d\Setup (1).exe)"},
        {R"(C:/Users/first.last/Downloads/setup)", 1, R"(C:/Users/first.last/Downloads/setup (1))"},
        {"/home/first.last/Downloads/setup", 3, "/home/first.last/Downloads/setup (3)"},
        {"/home/u/Downloads/Setup.exe", 0, "/home/u/Downloads/Setup.exe"},
        {"Setup.exe", 1, "Setup (1).exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.target << " #" << c.number);
        EXPECT_EQ(NumberedTarget(c.target, c.number), c.expected);
    }
}

} // namespace
} // namespace tarvik::download
