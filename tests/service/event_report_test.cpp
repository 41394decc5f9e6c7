#include "service/event_report.h"

#include "service_printers.h"
#include "support/closed_port.h"
#include "support/loopback_server.h"
#include "support/stall_gate.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace tarvik::service {
namespace {

using namespace std::chrono_literals;

struct FormField {
    std::string name;
    std::string value;
    std::string filename;
    std::string contentType;
};

struct RecordedReport {
    std::string method;
    std::string path;
    std::string contentType;
    std::vector<FormField> fields; // in the order they were sent
};

// A log endpoint that records every report field by field, in order.
class LogServiceTest : public ::testing::Test {
protected:
    LogServiceTest() {
        const auto record = [this](const httplib::Request& request, httplib::Response& response,
                                   const httplib::ContentReader& reader) {
            RecordedReport report{
                request.method, request.path, request.get_header_value("Content-Type"), {}};
            if (request.is_multipart_form_data()) {
                reader(
                    [&](const httplib::MultipartFormData& part) {
                        report.fields.push_back({part.name, "", part.filename, part.content_type});
                        return true;
                    },
                    [&](const char* data, size_t length) {
                        report.fields.back().value.append(data, length);
                        return true;
                    });
            }
            {
                const std::lock_guard lock(mutex_);
                reports_.push_back(std::move(report));
            }
            response.status = status_;
            response.set_content("SERVICE-ANSWER-7f3a", "text/plain");
        };
        service.server.Post("/downloader.php/index/log", record);
        service.server.Post("/moved-log", record);
        service.server.Post("/old-log", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("/moved-log", 302);
        });
        service.server.Post("/to-file", [](const httplib::Request&, httplib::Response& response) {
            response.set_redirect("file:///etc/passwd", 302);
        });
        service.server.Post("/silent-log",
                            [this](const httplib::Request&, httplib::Response&) { gate.Wait(); });
        service.Start();
    }
    ~LogServiceTest() override { gate.Open(); }

    std::vector<RecordedReport> Reports() {
        const std::lock_guard lock(mutex_);
        return reports_;
    }
    std::string LogUrl() const { return service.Url("/downloader.php/index/log"); }

    tarvik::testing::StallGate gate;
    tarvik::testing::LoopbackServer service;
    int status_ = 200; // set before any request

private:
    std::mutex mutex_;
    std::vector<RecordedReport> reports_;
};

TEST_F(LogServiceTest, SendsThePlainFormFieldsInOrder) {
    struct Case {
        const char* label;
        EventReport report;
        std::string downloaderId;
        std::string event;
    };
    const Case cases[] = {
        {"no downloader id", {0, "4", "7E9010F02011A07Babcdefghijklmnop"}, "0", "4"},
        {"largest downloader id, unsigned", {4294967295u, "5", "id"}, "4294967295", "5"},
        {"id from 2^31 stays unsigned", {3000000000u, "abc", "id"}, "3000000000", "abc"},
        {"UTF-8 event code unchanged", {7, "шаг_✓ \"q\"&x=1", "id"}, "7", "шаг_✓ \"q\"&x=1"},
        {"empty event code", {7, "", "id"}, "7", ""},
        {"a value ends at its first zero byte", {7, std::string("ab\0cd", 5), "id"}, "7", "ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const size_t before = Reports().size();
        EXPECT_EQ(SendEventReport(LogUrl(), c.report, {}), ServiceFailure::None);
        const auto reports = Reports();
        ASSERT_EQ(reports.size(), before + 1);
        const RecordedReport& sent = reports.back();
        EXPECT_EQ(sent.method, "POST");
        EXPECT_TRUE(sent.contentType.starts_with("multipart/form-data; boundary="))
            << sent.contentType;
        ASSERT_EQ(sent.fields.size(), 3u);
        const std::string expected[3][2] = {
            {"downloader_id", c.downloaderId}, {"event", c.event}, {"uuid", c.report.uuid}};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(sent.fields[i].name, expected[i][0]);
            EXPECT_EQ(sent.fields[i].value, expected[i][1]);
            EXPECT_EQ(sent.fields[i].filename, "");
            EXPECT_EQ(sent.fields[i].contentType, "");
        }
    }
}

TEST_F(LogServiceTest, TheAnswerIsDiscardedNotPrinted) {
    ::testing::internal::CaptureStdout();
    const ServiceFailure failure = SendEventReport(LogUrl(), {1, "4", "id"}, {});
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(failure, ServiceFailure::None);
    EXPECT_EQ(printed.find("SERVICE-ANSWER-7f3a"), std::string::npos);
}

TEST_F(LogServiceTest, ARedirectedReportArrivesAsTheSamePost) {
    EXPECT_EQ(SendEventReport(service.Url("/old-log"), {9, "5", "id"}, {}), ServiceFailure::None);
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].path, "/moved-log");
    EXPECT_EQ(reports[0].method, "POST");
    ASSERT_EQ(reports[0].fields.size(), 3u);
    EXPECT_EQ(reports[0].fields[0].value, "9");
}

TEST_F(LogServiceTest, ARedirectToAnotherProtocolIsNotFollowed) {
    EXPECT_EQ(SendEventReport(service.Url("/to-file"), {9, "5", "id"}, {}), ServiceFailure::BadUrl);
}

TEST_F(LogServiceTest, ARefusedReportCountsAsFailed) {
    status_ = 500;
    EXPECT_EQ(SendEventReport(LogUrl(), {1, "4", "id"}, {}), ServiceFailure::HttpStatus);
    // It did arrive; only the service's answer makes it a failure.
    EXPECT_EQ(Reports().size(), 1u);
}

TEST_F(LogServiceTest, ASilentServiceFailsAtTheTimeLimit) {
    EXPECT_EQ(SendEventReport(service.Url("/silent-log"), {1, "4", "id"}, {300ms, 300ms, {}}),
              ServiceFailure::Timeout);
}

TEST(EventReportTest, AnUnreachableServiceCountsAsFailed) {
    struct Case {
        std::string url;
        ServiceFailure failure;
    };
    const Case cases[] = {
        {tarvik::testing::RefusedLoopbackUrl("/downloader.php/index/log"), ServiceFailure::Network},
        {"", ServiceFailure::BadUrl},
        {"nosuchscheme://127.0.0.1/log", ServiceFailure::BadUrl},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(SendEventReport(c.url, {1, "4", "id"}, {}), c.failure);
    }
}

} // namespace
} // namespace tarvik::service
