#include "common/translation.h"
#include "po/po_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvik {
namespace {

// Which compiled-in catalogue a list of preferred languages chooses.
TEST(Catalogue, ChoosesByTheFirstLanguageThatIsEnglishOrTranslated) {
    struct Case {
        std::vector<std::string> languages;
        std::string chosen;
    };
    const Case cases[] = {
        {{}, ""},
        {{"C"}, ""},
        {{"POSIX"}, ""},
        {{"zh_CN.UTF-8", "zh_CN", "zh", "C"}, "zh_CN"},
        {{"zh_CN.GB2312"}, "zh_CN"},
        {{"zh_SG"}, "zh_CN"}, // any Chinese: the Chinese catalogue rather than English
        {{"zh"}, "zh_CN"},
        {{"de_DE.UTF-8@euro"}, "de"},
        {{"de_CH"}, "de"},
        {{"en_US.UTF-8", "de"}, ""}, // English preferred: German is not reached
        {{"fr_FR", "fr", "de_AT", "C"}, "de"},
        {{"fr_FR", "fr", "C", "de"}, ""},
        {{"", "sr@latin", "de"}, "de"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.languages.empty() ? "(none)" : c.languages.front());
        EXPECT_EQ(Catalogue(c.languages).Language(), c.chosen);
    }
}

TEST(Catalogue, AnUntranslatedTextStaysEnglish) {
    const Catalogue german({"de"});
    EXPECT_STREQ(german.Translate("All files (*.*)"), "Alle Dateien (*.*)");
    EXPECT_STREQ(german.Translate("No such text"), "No such text");
    EXPECT_STREQ(Catalogue({"C"}).Translate("All files (*.*)"), "All files (*.*)");
    EXPECT_EQ(german.Translate(nullptr), nullptr);
}

// The reader that compiles po/*.po into the program reads what msgfmt would keep.
TEST(PoReader, KeepsWhatMsgfmtWouldKeep) {
    const std::string text = "# comment\n"
                             "msgid \"\"\n"
                             "msgstr \"\"\n"
                             "\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                             "\n"
                             "#: a.cpp\n"
                             "msgid \"One\"\n"
                             "msgstr \"Eins\"\n"
                             "\n"
                             "msgid \"\"\n"
                             "\"Two \"\n"
                             "\"lines\"\n"
                             "msgstr \"Zwei \\\"Zeilen\\\"\\n\\tmit \\\\\"\n"
                             "\n"
                             "#, fuzzy\n"
                             "msgid \"Unsure\"\n"
                             "msgstr \"Unsicher\"\n"
                             "\n"
                             "#, c-format\n"
                             "msgid \"Untranslated\"\n"
                             "msgstr \"\"\n"
                             "#~ msgid \"Old\"\n"
                             "#~ msgstr \"Alt\"\n"
                             "msgid \"运行\"\r\n"
                             "msgstr \"运行失败\"";
    std::string error;
    const auto translations = po::ReadPo(text, error);
    ASSERT_TRUE(translations) << error;
    EXPECT_EQ(*translations, (po::Translations{{"One", "Eins"},
                                               {"Two lines", "Zwei \"Zeilen\"\n\tmit \\"},
                                               {"运行", "运行失败"}}));
}

TEST(PoReader, RefusesWhatItCannotReadWithTheLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"msgid \"a\"\nmsgid \"b\"\nmsgstr \"c\"\n", "line 2: msgid without msgstr"},
        {"msgstr \"a\"\n", "line 1: msgstr without msgid"},
        {"msgid \"a\"\nmsgstr \"b\nmsgstr", "line 2: malformed string"},
        {"msgid \"a\" x\nmsgstr \"b\"\n", "line 1: malformed string"},
        {"msgid \"a\\q\"\nmsgstr \"b\"\n", "line 1: malformed string"},
        {"msgid \"a\"\nmsgid_plural \"as\"\n",
         "line 2: contexts and plural forms are not supported"},
        {"msgctxt \"menu\"\n", "line 1: contexts and plural forms are not supported"},
        {"\"loose\"\n", "line 1: text outside an entry"},
        {"msgid \"a\"\nmsgstr \"b\"\nwhat\n", "line 3: not a line of a .po file"},
        {"msgid \"a\"\n\nmsgstr \"b\"\n", "line 2: msgid without msgstr"},
        {"msgid \"a\"", "msgid without msgstr at the end"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        EXPECT_FALSE(po::ReadPo(c.text, error));
        EXPECT_EQ(error, c.error);
    }
}

} // namespace
} // namespace tarvik
