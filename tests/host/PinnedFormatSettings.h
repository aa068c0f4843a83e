#pragma once
// Test helper: pins the process-wide format settings to the framework's
// defaults for the test's lifetime and restores what was there afterwards.

#include "host/DateUtils.h"

#include <gtest/gtest.h>

namespace orvex::testing {

class PinnedFormatSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        FormatSettings() = TFormatSettings{};
    }
    void TearDown() override { FormatSettings() = FSaved; }

private:
    TFormatSettings FSaved;
};

} // namespace orvex::testing
