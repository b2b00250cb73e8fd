// The version as the about box shows it.
#include "ui/AboutBox.h"

#include <gtest/gtest.h>

namespace vantor {
namespace {

TEST(VersionText, MajorMinorAndLetter) {
    EXPECT_EQ(VersionText(1, 0, 0), "1.00");
    EXPECT_EQ(VersionText(2, 5, 1), "2.05 A");
    EXPECT_EQ(VersionText(2, 5, 26), "2.05 Z");
    EXPECT_EQ(VersionText(3, 12, 0), "3.12");
}

} // namespace
} // namespace vantor
