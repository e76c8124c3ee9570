#include "platform/os/ErrorReport.h"
#include "plugin-api/PluginApi.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string captured(const char* location, int line, std::int32_t code) {
    ::testing::internal::CaptureStderr();
    tonemirror::os::reportError(location, line, code);
    return ::testing::internal::GetCapturedStderr();
}

TEST(ErrorReport, WritesLocationLineAndCodeWithoutLineBreak) {
    EXPECT_EQ(captured("CMainFrame::OnCreate", 120, tonemirror::E_FAIL),
              "CMainFrame::OnCreate:120 failed [-2147467259]");
    EXPECT_EQ(captured("CTranslator::Load", 7, tonemirror::S_OK), "CTranslator::Load:7 failed [0]");
    // Two reports run together on one line, as the program writes them.
    ::testing::internal::CaptureStderr();
    tonemirror::os::reportError("A", 1, 1);
    tonemirror::os::reportError("B", 2, 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "A:1 failed [1]B:2 failed [2]");
}

TEST(ErrorReport, MissingLocationIsUnknown) {
    EXPECT_EQ(captured(nullptr, 3, tonemirror::E_OUTOFMEMORY), "UNKNOWN:3 failed [-2147024882]");
}

} // namespace
