// The end of a run: its status, taken modulo 256, and what it says on
// standard error.
#include "logging/fatal.h"

#include <gtest/gtest.h>

TEST(FatalError, CarriesTheStatusModulo256AndSaysWhyOnStandardError)
{
    const struct {
        int status;
        const char* message;
        const char* detail;
        FatalLogLevel level;
        int exitStatus;
        const char* said;
    } cases[] = {
        {255, "read  config error", "table: x.csv", FatalLogLevel::Error, 255, "read  config error\ntable: x.csv\n"},
        {-1, "minus one", "", FatalLogLevel::Error, 255, "minus one\n"},
        {2, "netcdf failure", "", FatalLogLevel::Info, 2, "netcdf failure\n"},
        {256 + 3, "wraps", "", FatalLogLevel::Error, 3, "wraps\n"},
    };
    for (const auto& c : cases) {
        try {
            throw FatalError(c.status, c.message, KV_HERE, c.detail, c.level);
        } catch (const FatalError& end) {
            EXPECT_EQ(end.status(), c.exitStatus);
            EXPECT_STREQ(end.what(), c.message);
            ::testing::internal::CaptureStderr();
            EXPECT_EQ(reportFatal(end), c.exitStatus);
            EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.said);
        }
    }
}
