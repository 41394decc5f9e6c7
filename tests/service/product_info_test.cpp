#include "service/product_info.h"

#include "service_printers.h"
#include "support/closed_port.h"
#include "support/loopback_server.h"
#include "support/stall_gate.h"
#include "support/temp_folder.h"
#if defined(CPPHTTPLIB_OPENSSL_SUPPORT) && !defined(_WIN32)
#include "support/tls_loopback.h"
#endif

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace tarvik::service {
namespace {

using namespace std::chrono_literals;

struct RecordedRequest {
    std::string method;
    std::string target;
};

// A service whose info answer is scripted per case and which records what it was asked.
class InfoServiceTest : public ::testing::Test {
protected:
    InfoServiceTest() {
        service.server.Get("/downloader.php/index/info",
                           [this](const httplib::Request& request, httplib::Response& response) {
                               std::string body;
                               int status = 200;
                               {
                                   const std::lock_guard lock(mutex_);
                                   requests_.push_back({request.method, request.target});
                                   body = answer_;
                                   status = status_;
                               }
                               response.status = status;
                               response.set_content(body, "application/json");
                           });
        service.server.Get("/page", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(R"({"code":200,"data":{"name":"Moved","url1":"x"}})",
                                 "application/json");
        });
        service.server.Get("/moved", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("/page");
        });
        service.server.Get("/stall-before-headers",
                           [this](const httplib::Request&, httplib::Response& response) {
                               gate.Wait();
                               response.set_content("{}", "application/json");
                           });
        service.server.Get("/stall-in-body", [this](const httplib::Request&,
                                                    httplib::Response& response) {
            response.set_chunked_content_provider("application/json",
                                                  [this](size_t offset, httplib::DataSink& sink) {
                                                      if (offset == 0) {
                                                          sink.write(R"({"code":200,)", 12);
                                                          return true;
                                                      }
                                                      gate.Wait();
                                                      sink.done();
                                                      return true;
                                                  });
        });
        service.Start();
    }
    ~InfoServiceTest() override { gate.Open(); }

    void Answer(std::string body, int status = 200) {
        const std::lock_guard lock(mutex_);
        answer_ = std::move(body);
        status_ = status;
    }
    std::vector<RecordedRequest> Requests() {
        const std::lock_guard lock(mutex_);
        return requests_;
    }
    std::string InfoUrl() const { return service.Url("/downloader.php/index/info?id=-5"); }

    tarvik::testing::StallGate gate;
    tarvik::testing::LoopbackServer service;

private:
    std::mutex mutex_;
    std::string answer_;
    int status_ = 200;
    std::vector<RecordedRequest> requests_;
};

ProductInfo Info(std::string name, std::optional<std::string> pageUrl) {
    return ProductInfo{std::move(name), std::move(pageUrl), ServiceFailure::None};
}
ProductInfo Failed(ServiceFailure failure, long httpStatus = 0,
                   CertificateProblem certificate = CertificateProblem::None) {
    return ProductInfo{std::nullopt, std::nullopt, failure, httpStatus, certificate};
}

struct AnswerCase {
    const char* label;
    std::string body;
    int status;
    ProductInfo expected;
};

TEST_F(InfoServiceTest, ReadsNameAndPageOnlyFromAWellFormedSuccessAnswer) {
    const std::string data = R"("data":{"name":"Setup","url1":"https://pages.test/p?a=1"})";
    const ProductInfo setup = Info("Setup", "https://pages.test/p?a=1");
    const ProductInfo declined = Failed(ServiceFailure::Declined);
    const ProductInfo malformed = Failed(ServiceFailure::Malformed);
    const AnswerCase cases[] = {
        {"success", R"({"code":200,)" + data + "}", 200, setup},
        {"200.0 is 200", R"({"code":200.0,)" + data + "}", 200, setup},
        {"2e2 is 200", R"({"code":2e2,)" + data + "}", 200, setup},
        {"the HTTP status is not looked at", R"({"code":200,)" + data + "}", 500, setup},
        {"byte-order mark and white space", "\xEF\xBB\xBF \n{\"code\":200," + data + "}\n ", 200,
         setup},
        {"other members ignored",
         R"({"x":[1],"code":200,"data":{"name":"Setup","url1":"https://pages.test/p?a=1","y":{}}})",
         200, setup},
        {"UTF-8 name", R"({"code":200,"data":{"name":"Grüße ✓","url1":"u"}})", 200,
         Info("Grüße ✓", "u")},
        {"code as the string \"200\"", R"({"code":"200",)" + data + "}", 200, declined},
        {"code 500 without data", R"({"code":500})", 200, declined},
        {"code true", R"({"code":true,)" + data + "}", 200, declined},
        {"no code", "{" + data + "}", 200, declined},
        {"JSON null", "null", 200, malformed},
        {"empty object", "{}", 200, declined},
        {"empty body", "", 200, malformed},
        {"not JSON", "<html>Service Unavailable</html>", 503, malformed},
        {"trailing text", R"({"code":200,)" + data + "} x", 200, malformed},
        // The JSON reader stops at a zero byte as at the end of a C string; the whole body
        // must count.
        {"zero byte, then text that is not JSON",
         R"({"code":200,)" + data + "}" + std::string(1, '\0') + " not JSON {[", 200, malformed},
        {"zero byte after the answer", R"({"code":200,)" + data + "}" + std::string(1, '\0'), 200,
         malformed},
        {"comments are not JSON", R"(/* c */ {"code":200,)" + data + "}", 200, malformed},
        {"body is an array",
         "["
         R"({"code":200,)" +
             data + "}]",
         200, malformed},
        {"body is a string", R"("code")", 200, malformed},
        {"no data", R"({"code":200})", 200, malformed},
        {"data is a string", R"({"code":200,"data":"Setup"})", 200, malformed},
        {"data is an array", R"({"code":200,"data":["Setup"]})", 200, malformed},
        {"name missing", R"({"code":200,"data":{"url1":"u"}})", 200, malformed},
        {"name is a number", R"({"code":200,"data":{"name":1,"url1":"u"}})", 200, malformed},
        {"url1 missing: the name alone", R"({"code":200,"data":{"name":"Setup"}})", 200,
         Info("Setup", std::nullopt)},
        {"url1 null: the name alone", R"({"code":200,"data":{"name":"Setup","url1":null}})", 200,
         Info("Setup", std::nullopt)},
        {"invalid UTF-8 in a string", "{\"code\":200,\"data\":{\"name\":\"a\xFF\",\"url1\":\"u\"}}",
         200, malformed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Answer(c.body, c.status);
        ProductInfo expected = c.expected;
        expected.httpStatus = c.status;
        EXPECT_EQ(RequestProductInfo(InfoUrl(), {}), expected);
    }
}

TEST_F(InfoServiceTest, AsksWithOneGetOfTheExactUrl) {
    Answer(R"({"code":200,"data":{"name":"Setup","url1":"u"}})");
    RequestProductInfo(InfoUrl(), {});
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/downloader.php/index/info?id=-5");
}

TEST_F(InfoServiceTest, RedirectsAreNotFollowed) {
    // The redirect's own empty body is what is read.
    EXPECT_EQ(RequestProductInfo(service.Url("/moved"), {}),
              Failed(ServiceFailure::Malformed, 302));
}

TEST_F(InfoServiceTest, AnOversizedAnswerCountsAsFailed) {
    Answer(R"({"code":200,"data":{"name":"Setup","url1":"u"},"pad":")" +
           std::string(5 * 1024 * 1024, 'x') + "\"}");
    EXPECT_EQ(RequestProductInfo(InfoUrl(), {}), Failed(ServiceFailure::TooLarge, 200));
}

TEST_F(InfoServiceTest, ASilentServiceFailsAtTheTimeLimit) {
    const ServiceLimits shortLimits{300ms, 300ms, {}};
    const std::pair<const char*, long> cases[] = {{"/stall-before-headers", 0},
                                                  {"/stall-in-body", 200}};
    for (const auto& [path, status] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(RequestProductInfo(service.Url(path), shortLimits),
                  Failed(ServiceFailure::Timeout, status));
    }
}

TEST(ProductInfoTest, UnreachableOrMissingUrlCountsAsFailed) {
    struct Case {
        std::string url;
        ServiceFailure failure;
    };
    const Case cases[] = {
        {tarvik::testing::RefusedLoopbackUrl("/downloader.php/index/info?id=1"),
         ServiceFailure::Network},
        {"", ServiceFailure::BadUrl},
        {"not a url", ServiceFailure::BadUrl},
        {"nosuchscheme://127.0.0.1/", ServiceFailure::BadUrl},
        {"file:///etc/passwd", ServiceFailure::BadUrl},
        {"ftp://127.0.0.1:1/info", ServiceFailure::BadUrl},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(RequestProductInfo(c.url, {}), Failed(c.failure));
    }
}

#if defined(CPPHTTPLIB_OPENSSL_SUPPORT) && !defined(_WIN32)
// A refused certificate says why: the built-in page gives other advice for an untrusted
// certificate (a network filter), an expired one (the computer's clock) and one for another host.
TEST(ProductInfoTest, ARefusedCertificateSaysWhy) {
    using Kind = tarvik::testing::TestCertificates::Kind;
    tarvik::testing::TempFolder folder;
    const tarvik::testing::TestCertificates certificates(folder.path());
    struct Case {
        const char* label = "";
        Kind kind = Kind::Good;
        ProductInfo expected;
    };
    const Case cases[] = {
        {"good", Kind::Good, ProductInfo{"Setup", "u", ServiceFailure::None, 200}},
        {"expired", Kind::Expired, Failed(ServiceFailure::Network, 0, CertificateProblem::Expired)},
        {"issued for another host", Kind::OtherHost,
         Failed(ServiceFailure::Network, 0, CertificateProblem::WrongHost)},
        {"signs itself", Kind::SelfSigned,
         Failed(ServiceFailure::Network, 0, CertificateProblem::Untrusted)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        tarvik::testing::TlsLoopbackServer service(certificates.certificate(c.kind),
                                                   certificates.key());
        service.server.Get("/info", [](const httplib::Request&, httplib::Response& response) {
            response.set_content(R"({"code":200,"data":{"name":"Setup","url1":"u"}})",
                                 "application/json");
        });
        service.Start();
        ServiceLimits limits;
        limits.trustedAuthorities = certificates.authority();
        EXPECT_EQ(RequestProductInfo(service.Url("/info"), limits), c.expected);
    }
}

// The library's texts for a refused certificate, as its TLS libraries word them.
TEST(ProductInfoTest, CertificateTextsAreToldApart) {
    const std::pair<const char*, CertificateProblem> cases[] = {
        {"SSL certificate problem: certificate has expired", CertificateProblem::Expired},
        {"SSL certificate problem: certificate is not yet valid", CertificateProblem::Expired},
        {"SSL: no alternative certificate subject name matches target host name '127.0.0.1'",
         CertificateProblem::WrongHost},
        {"SSL: certificate subject name 'a.test' does not match target host name 'b.test'",
         CertificateProblem::WrongHost},
        {"SSL certificate problem: self-signed certificate", CertificateProblem::Untrusted},
        {"SSL certificate problem: unable to get local issuer certificate",
         CertificateProblem::Untrusted},
        {"schannel: SEC_E_UNTRUSTED_ROOT (0x80090325)", CertificateProblem::Untrusted},
        {"schannel: SEC_E_CERT_EXPIRED (0x80090328)", CertificateProblem::Expired},
        {"schannel: CertGetCertificateChain trust error CERT_TRUST_IS_NOT_TIME_VALID",
         CertificateProblem::Expired},
        {"schannel: server certificate name verification failed (CN_NO_MATCH)",
         CertificateProblem::WrongHost},
        {"", CertificateProblem::Untrusted},
    };
    for (const auto& [text, problem] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(CertificateProblemFromText(text), problem);
    }
}
#endif

} // namespace
} // namespace tarvik::service
