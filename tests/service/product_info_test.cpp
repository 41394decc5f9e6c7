#include "service/product_info.h"

#include "closed_port.h"
#include "stall_gate.h"
#include "support/loopback_server.h"

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

struct AnswerCase {
    const char* label;
    std::string body;
    int status;
    std::optional<std::string> name;
    std::optional<std::string> pageUrl;
};

TEST_F(InfoServiceTest, ReadsNameAndPageOnlyFromAWellFormedSuccessAnswer) {
    const std::string data = R"("data":{"name":"Setup","url1":"https://pages.test/p?a=1"})";
    const std::optional<std::string> setup = "Setup";
    const std::optional<std::string> page = "https://pages.test/p?a=1";
    const std::optional<std::string> none;
    const AnswerCase cases[] = {
        {"success", R"({"code":200,)" + data + "}", 200, setup, page},
        {"200.0 is 200", R"({"code":200.0,)" + data + "}", 200, setup, page},
        {"2e2 is 200", R"({"code":2e2,)" + data + "}", 200, setup, page},
        {"the HTTP status is not looked at", R"({"code":200,)" + data + "}", 500, setup, page},
        {"byte-order mark and white space", "\xEF\xBB\xBF \n{\"code\":200," + data + "}\n ", 200,
         setup, page},
        {"other members ignored",
         R"({"x":[1],"code":200,"data":{"name":"Setup","url1":"https://pages.test/p?a=1","y":{}}})",
         200, setup, page},
        {"UTF-8 name", R"({"code":200,"data":{"name":"Grüße ✓","url1":"u"}})", 200, "Grüße ✓", "u"},
        {"code as the string \"200\"", R"({"code":"200",)" + data + "}", 200, none, none},
        {"code 500 without data", R"({"code":500})", 200, none, none},
        {"code true", R"({"code":true,)" + data + "}", 200, none, none},
        {"no code", "{" + data + "}", 200, none, none},
        {"JSON null", "null", 200, none, none},
        {"empty object", "{}", 200, none, none},
        {"empty body", "", 200, none, none},
        {"not JSON", "<html>Service Unavailable</html>", 503, none, none},
        {"trailing text", R"({"code":200,)" + data + "} x", 200, none, none},
        {"comments are not JSON", R"(/* c */ {"code":200,)" + data + "}", 200, none, none},
        {"body is an array",
         "["
         R"({"code":200,)" +
             data + "}]",
         200, none, none},
        {"body is a string", R"("code")", 200, none, none},
        {"no data", R"({"code":200})", 200, none, none},
        {"data is a string", R"({"code":200,"data":"Setup"})", 200, none, none},
        {"data is an array", R"({"code":200,"data":["Setup"]})", 200, none, none},
        {"name missing", R"({"code":200,"data":{"url1":"u"}})", 200, none, none},
        {"name is a number", R"({"code":200,"data":{"name":1,"url1":"u"}})", 200, none, none},
        {"url1 missing: the name alone", R"({"code":200,"data":{"name":"Setup"}})", 200, setup,
         none},
        {"url1 null: the name alone", R"({"code":200,"data":{"name":"Setup","url1":null}})", 200,
         setup, none},
        {"invalid UTF-8 in a string", "{\"code\":200,\"data\":{\"name\":\"a\xFF\",\"url1\":\"u\"}}",
         200, none, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Answer(c.body, c.status);
        const ProductInfo info = RequestProductInfo(InfoUrl(), {});
        EXPECT_EQ(info.name, c.name);
        EXPECT_EQ(info.pageUrl, c.pageUrl);
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
    const ProductInfo info = RequestProductInfo(service.Url("/moved"), {});
    EXPECT_FALSE(info.name);
    EXPECT_FALSE(info.pageUrl);
}

TEST_F(InfoServiceTest, AnOversizedAnswerCountsAsFailed) {
    Answer(R"({"code":200,"data":{"name":"Setup","url1":"u"},"pad":")" +
           std::string(5 * 1024 * 1024, 'x') + "\"}");
    const ProductInfo info = RequestProductInfo(InfoUrl(), {});
    EXPECT_FALSE(info.name);
}

TEST_F(InfoServiceTest, ASilentServiceFailsAtTheTimeLimit) {
    const ServiceLimits shortLimits{300ms, 300ms};
    for (const char* path : {"/stall-before-headers", "/stall-in-body"}) {
        SCOPED_TRACE(path);
        const ProductInfo info = RequestProductInfo(service.Url(path), shortLimits);
        EXPECT_FALSE(info.name);
        EXPECT_FALSE(info.pageUrl);
    }
}

TEST(ProductInfoTest, UnreachableOrMissingUrlCountsAsFailed) {
    const std::string closedUrl =
        tarvik::testing::RefusedLoopbackUrl("/downloader.php/index/info?id=1");
    for (const std::string& url : {closedUrl, std::string(), std::string("not a url")}) {
        SCOPED_TRACE(url);
        const ProductInfo info = RequestProductInfo(url, {});
        EXPECT_FALSE(info.name);
        EXPECT_FALSE(info.pageUrl);
    }
}

} // namespace
} // namespace tarvik::service
