#include "gui/gui_test_support.h"

#include <gtest/gtest.h>

namespace tarvik::testing {
namespace {

// Run without any display (see CMakeLists.txt): the program must say so and stop, not crash.
TEST(StartupWithoutDisplay, FactoryReportsTheMissingDisplay) {
    std::string error;
    auto platform = TryMakeGtkPlatform(error);
    EXPECT_FALSE(platform);
    EXPECT_NE(error.find("display"), std::string::npos) << error;
}

} // namespace
} // namespace tarvik::testing
