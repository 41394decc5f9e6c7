#include "transfer_fixture.h"

#include "common/download_failure.h"
#include "download/minisign.h"
#include "support/minisign_tool.h"

#include <gtest/gtest.h>

#include <mutex>

namespace tarvik::download::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tarvik::testing::MinisignTool;

// Serves an installer at /setup.exe and, when there is one, its signature file beside it at
// /setup.exe.minisig (404 otherwise); records the paths it was asked for.
class SignedFileServer {
public:
    SignedFileServer(std::string body, std::optional<std::string> signature)
        : body_(std::move(body)), signature_(std::move(signature)) {
        server_.server.Get("/.*",
                           [this](const httplib::Request& request, httplib::Response& response) {
                               {
                                   const std::lock_guard lock(mutex_);
                                   paths_.push_back(request.path);
                               }
                               if (request.path == "/setup.exe") {
                                   response.set_content(body_, "application/octet-stream");
                               } else if (request.path == "/setup.exe.minisig" && signature_) {
                                   response.set_content(*signature_, "text/plain");
                               } else {
                                   response.status = 404;
                                   response.set_content("not here", "text/plain");
                               }
                           });
        server_.Start();
    }
    std::string Url(const std::string& path) const { return server_.Url(path); }
    std::vector<std::string> Paths() const {
        const std::lock_guard lock(mutex_);
        return paths_;
    }

private:
    const std::string body_;
    const std::optional<std::string> signature_;
    mutable std::mutex mutex_;
    std::vector<std::string> paths_;
    tarvik::testing::LoopbackServer server_;
};

// Everything a signed download leaves for the user to see: how it ended, what is under the final
// name and beside it, what was fetched, and what the step log says of the signature.
struct Observed {
    std::optional<uint32_t> end;
    std::optional<uint64_t> reason;
    std::optional<std::string> saved;
    std::vector<std::string> leftovers;
    std::vector<std::string> paths;
    std::string signatureLog;
    bool operator==(const Observed&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Observed& o) {
        out << "{end " << (o.end ? std::to_string(*o.end) : "none") << ", reason "
            << (o.reason ? std::to_string(*o.reason) : "none") << ", saved "
            << (o.saved ? std::to_string(o.saved->size()) + " bytes" : "nothing") << ", "
            << o.leftovers.size() << " leftovers, paths";
        for (const auto& path : o.paths)
            out << ' ' << path;
        return out << ", log \"" << o.signatureLog << "\"}";
    }
};

// Which outcome the last "download: signature: " line tells, in the words the log uses for it.
std::string SignatureOutcome(const LogLines& log) {
    const std::vector<std::string> lines = log.Starting("download: signature: ");
    if (lines.empty())
        return "no line";
    for (const char* words : {"verified", "no key id match", "bad signature", "bad trusted comment",
                              "not a minisign signature", "could not be fetched (HTTP 404"}) {
        if (lines.back().find(words) != std::string::npos)
            return words;
    }
    return lines.back();
}

// A build with a key finishes a download only when the signature the tool made for it with that
// key holds; every other signature, a changed file or trusted comment, and a signature that is
// missing or unreadable fail it with "verify", leaving nothing under the final name or beside it.
// A signature that cannot be right (unreadable, missing, another key's) fails before the
// installer's bytes are fetched.
TEST(TransferSignature, OnlyTheRightlySignedFileIsFinished) {
    const MinisignTool vendor;
    const MinisignTool stranger;
    const std::string body = PatternBody(kSizedBody);
    std::string other = body;
    other[1000] ^= 1;
    const std::string good = vendor.Sign(body);
    std::string tamperedComment = good;
    tamperedComment.replace(tamperedComment.find("file:setup.exe"), 14, "file:other.exe");

    const auto finished = [&](const char* log) {
        return Observed{WM_DNLD_FINISHED, 0, body, {}, {"/setup.exe.minisig", "/setup.exe"}, log};
    };
    const auto refused = [](std::vector<std::string> paths, const char* log) {
        return Observed{WM_DNLD_FAILED,   static_cast<uint64_t>(DownloadFailure::Verify),
                        std::nullopt,     {},
                        std::move(paths), log};
    };
    const std::vector<std::string> early{"/setup.exe.minisig"};
    const std::vector<std::string> whole{"/setup.exe.minisig", "/setup.exe"};
    struct Case {
        const char* name = "";
        std::optional<std::string> served;
        Observed expected;
        // Added to the installer's URL: the signature's name goes before it.
        const char* query = "";
    };
    const Case cases[] = {
        {"pre-hashed", good, finished("verified")},
        {"legacy", vendor.Sign(body, /*legacy=*/true), finished("verified")},
        {"a URL with a query", good, finished("verified"), "?t=1#top"},
        {"another key", stranger.Sign(body), refused(early, "no key id match")},
        {"another file", vendor.Sign(other), refused(whole, "bad signature")},
        {"another file, legacy", vendor.Sign(other, true), refused(whole, "bad signature")},
        {"tampered trusted comment", tamperedComment, refused(whole, "bad trusted comment")},
        {"truncated", good.substr(0, good.size() / 2), refused(early, "not a minisign signature")},
        {"garbage", std::string("\x01\xff garbage\n", 11),
         refused(early, "not a minisign signature")},
        {"missing (404)", std::nullopt, refused(early, "could not be fetched (HTTP 404")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SignedFileServer server(body, c.served);
        TempFolder folder;
        const fs::path target = folder.path() / "setup.exe";
        LogLines log;

        const Outcome outcome =
            Download(server.Url("/setup.exe") + c.query, target, TestLimits(), 0ms, RealSystem(),
                     [&](TransferJob& job) {
                         job.RequireSignature(ParseMinisignKey(vendor.publicKey()), std::nullopt);
                     });

        Observed observed;
        if (outcome.end) {
            observed.end = outcome.end->id;
            observed.reason = outcome.end->wParam;
        }
        observed.saved = ReadFileIfPresent(target);
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            if (entry.path() != target)
                observed.leftovers.push_back(entry.path().filename().string());
        }
        observed.paths = server.Paths();
        observed.signatureLog = SignatureOutcome(log);
        EXPECT_EQ(observed, c.expected);
    }
}

// The page may hand the signature over itself; then nothing is fetched beside the file. The
// pre-hashed digest is taken as the bytes come, and ranges written out of order (several
// connections) are read back for it, as for the SHA-256.
TEST(TransferSignature, ASignatureFromThePageIsCheckedOverEveryRange) {
    const MinisignTool vendor;
    const std::string body = PatternBody(4 * 1024 * 1024);
    std::string other = body;
    other[3 * 1024 * 1024] ^= 1;
    struct Case {
        const char* name = "";
        int connections = 1;
        std::string signature;
        std::optional<DownloadFailure> failure;
    };
    const Case cases[] = {
        {"one connection", 1, vendor.Sign(body), std::nullopt},
        {"four connections", 4, vendor.Sign(body), std::nullopt},
        {"four connections, another file", 4, vendor.Sign(other), DownloadFailure::Verify},
        {"four connections, legacy", 4, vendor.Sign(body, true), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RangeServer server(body, {});
        TempFolder folder;
        const fs::path target = folder.path() / "setup.exe";
        TransferLimits limits = TestLimits();
        limits.connections = c.connections;
        limits.splitFrom = 1024 * 1024;

        const Outcome outcome =
            Download(server.Url(), target, limits, 0ms, RealSystem(), [&](TransferJob& job) {
                job.RequireSignature(ParseMinisignKey(vendor.publicKey()), c.signature);
            });

        ASSERT_TRUE(outcome.end.has_value());
        // The file server saw only requests for the file itself.
        for (const auto& request : server.Requests())
            EXPECT_NE(request.status, 404);
        if (c.failure) {
            EXPECT_EQ(outcome.end->id, WM_DNLD_FAILED);
            EXPECT_EQ(outcome.end->wParam, static_cast<uint64_t>(*c.failure));
            EXPECT_FALSE(fs::exists(target));
        } else {
            EXPECT_EQ(outcome.end->id, WM_DNLD_FINISHED);
            EXPECT_EQ(ReadFileIfPresent(target), body);
        }
        EXPECT_EQ(TemporaryFilesFor(target), std::vector<std::string>{});
    }
}

// A key the program could not read (it is checked when the program is built, so this is a
// defect) verifies nothing: every download fails, and no request is made.
TEST(TransferSignature, WithoutAUsableKeyNothingIsFinished) {
    const MinisignTool vendor;
    const std::string body = PatternBody(kSizedBody);
    SignedFileServer server(body, vendor.Sign(body));
    TempFolder folder;
    const fs::path target = folder.path() / "setup.exe";

    const Outcome outcome =
        Download(server.Url("/setup.exe"), target, TestLimits(), 0ms, RealSystem(),
                 [](TransferJob& job) { job.RequireSignature(std::nullopt, std::nullopt); });

    ASSERT_TRUE(outcome.end.has_value());
    EXPECT_EQ(outcome.end->id, WM_DNLD_FAILED);
    EXPECT_EQ(outcome.end->wParam, static_cast<uint64_t>(DownloadFailure::Verify));
    EXPECT_EQ(server.Paths(), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(target));
}

// The key line of a public key file, and nothing else, is a key; its id reads as the tool prints
// it in the file's comment.
TEST(MinisignKey, OnlyAnEd25519KeyLineIsAKey) {
    const MinisignTool vendor;
    const std::optional<MinisignKey> key = ParseMinisignKey(" " + vendor.publicKey() + "\n");
    ASSERT_TRUE(key.has_value());
    const std::string comment =
        ReadFileIfPresent(vendor.secretKeyFile().parent_path() / "key.pub").value_or("");
    EXPECT_NE(comment.find("minisign public key " + KeyIdText(key->id) + "\n"), std::string::npos)
        << comment;

    std::string notBase64 = vendor.publicKey();
    notBase64[20] = '*';
    std::string otherAlgorithm = vendor.publicKey();
    otherAlgorithm[1] = 'X';
    for (const std::string& bad :
         {std::string(), vendor.publicKey().substr(0, 55), vendor.publicKey() + "A", notBase64,
          otherAlgorithm, std::string("untrusted comment: minisign public key"),
          vendor.publicKey().substr(0, 52) + "===="}) {
        EXPECT_FALSE(ParseMinisignKey(bad)) << '"' << bad << '"';
    }
}

} // namespace
} // namespace tarvik::download::testing
