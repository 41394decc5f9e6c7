// Linked into every test program that makes requests: the global test environment holds the
// transfer library's global state for the whole run, as the program's main does, so no test or
// library code has to.
#include "common/curl/curl_handle.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

class CurlGlobalEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        global_.emplace();
        ASSERT_TRUE(global_->ok()) << "the transfer library did not initialise";
    }
    void TearDown() override { global_.reset(); }

private:
    std::optional<tarvik::CurlGlobal> global_;
};

// Registered before main runs; GoogleTest owns and deletes the environment.
[[maybe_unused]] ::testing::Environment* const kRegistered =
    ::testing::AddGlobalTestEnvironment(new CurlGlobalEnvironment);

} // namespace
