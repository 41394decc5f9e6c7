#include "platform/publisher_check.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvik::platform {
namespace {

using namespace std::string_literals;

TEST(SignerName, MatchesOnlyTheSameCharacters) {
    struct Case {
        const char* name = "";
        std::string signer;
        std::string publisher;
        bool matches = false;
    };
    const Case cases[] = {
        {"the same name", "Tarvik Test Vendor", "Tarvik Test Vendor", true},
        {"the same name beyond ASCII", "Prüfwerk Ağ 株式会社", "Prüfwerk Ağ 株式会社", true},
        {"another case", "tarvik test vendor", "Tarvik Test Vendor", false},
        {"the built-in name is a prefix", "Tarvik Test Vendor Ltd", "Tarvik Test Vendor", false},
        {"the signer is a prefix", "Tarvik Test", "Tarvik Test Vendor", false},
        {"a space after", "Tarvik Test Vendor ", "Tarvik Test Vendor", false},
        {"a look-alike letter (Cyrillic a)", "T\xD0\xB0rvik Test Vendor", "Tarvik Test Vendor",
         false},
        {"a NUL inside cuts nothing short", "Tarvik Test Vendor\0.evil"s, "Tarvik Test Vendor",
         false},
        {"a NUL inside matches not even itself", "Tarvik Test Vendor\0.evil"s,
         "Tarvik Test Vendor\0.evil"s, false},
        {"a line break inside", "Tarvik\nTest Vendor", "Tarvik\nTest Vendor", false},
        {"a certificate without a name", "", "Tarvik Test Vendor", false},
        {"no built-in name matches nothing", "", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SignerNameMatches(c.signer, c.publisher), c.matches) << c.name;
}

TEST(TrustAnswer, IsJudgedAgainstTheBuiltInPublisher) {
    const std::string publisher = "Tarvik Test Vendor";
    struct Case {
        const char* name = "";
        TrustAnswer answer;
        PublisherCheck expected = PublisherCheck::Unavailable;
    };
    const Case cases[] = {
        {"accepted, by the publisher", {0, publisher}, PublisherCheck::Trusted},
        {"accepted, by someone else", {0, "Other Vendor"}, PublisherCheck::PublisherMismatch},
        {"accepted, but no signer could be read",
         {0, std::nullopt},
         PublisherCheck::PublisherMismatch},
        {"no signature", {0x800B0100, std::nullopt}, PublisherCheck::Unsigned},
        {"a kind of file that carries none", {0x800B0003, std::nullopt}, PublisherCheck::Unsigned},
        {"no provider for the kind of file", {0x800B0001, std::nullopt}, PublisherCheck::Unsigned},
        {"changed after signing", {0x80096010, std::nullopt}, PublisherCheck::Tampered},
        // A refused signature is refused whatever name it carries.
        {"an untrusted root", {0x800B0109, publisher}, PublisherCheck::Untrusted},
        {"a revoked certificate", {0x800B010C, publisher}, PublisherCheck::Untrusted},
        {"revocation could not be checked", {0x800B010E, publisher}, PublisherCheck::Untrusted},
        {"an expired certificate without a timestamp",
         {0x800B0101, publisher},
         PublisherCheck::Untrusted},
        {"explicitly distrusted", {0x800B0111, publisher}, PublisherCheck::Untrusted},
        {"refused by the user's policy", {0x800B0004, publisher}, PublisherCheck::Untrusted},
        {"an answer this program does not know",
         {0x80004005, publisher},
         PublisherCheck::Untrusted},
        {"the file could not be read", {0x80092003, std::nullopt}, PublisherCheck::Unavailable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JudgeTrustAnswer(c.answer, publisher), c.expected) << c.name;
}

TEST(TrustAnswer, AnAcceptedSignatureNeverPassesWithoutABuiltInPublisher) {
    EXPECT_EQ(JudgeTrustAnswer({0, ""}, ""), PublisherCheck::PublisherMismatch);
    EXPECT_EQ(JudgeTrustAnswer({0, "Anyone"}, ""), PublisherCheck::PublisherMismatch);
}

} // namespace
} // namespace tarvik::platform
