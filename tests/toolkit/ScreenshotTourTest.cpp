// The screenshot tour's file and command line, which both views' tools read.
#include "toolkit/ScreenshotTour.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace vantor {
namespace {

TEST(ScreenshotTour, ReadsPicturesAndActionsAndNamesTheLineOfAnUnknownAction) {
    std::istringstream tour("# picture actions\n\nmain\n"
                            "fsetdir  menu:201 click:ButtonDir  # then its button\n"
                            "finfo dblclick:ListBox1\n");
    const auto steps = ParseTour(tour);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].picture, "main");
    EXPECT_TRUE(steps[0].actions.empty());
    EXPECT_EQ(steps[1].actions, (std::vector<std::string>{"menu:201", "click:ButtonDir"}));
    EXPECT_EQ(steps[2].actions, (std::vector<std::string>{"dblclick:ListBox1"}));
    std::istringstream bad("main\nfsetpis press:OK\n");
    try {
        ParseTour(bad);
        FAIL() << "an unknown action was taken";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "tour line 2: unknown action \"press:OK\"");
    }
}

TEST(ScreenshotTour, TheCommandLineNeedsHomeTourAndOutputAndRefusesUnknownOptions) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--home", "h", "--out", "o"},
          std::vector<std::string>{"--home", "h", "--tour", "t", "--out", "o", "--x", "1"},
          std::vector<std::string>{"--home", "h", "--tour", "/nonexistent/tour", "--out", "o"}})
        EXPECT_THROW(ReadTourCommand(arguments), std::runtime_error);
}

} // namespace
} // namespace vantor
