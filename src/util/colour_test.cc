#include "util/colour.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

namespace vardelic::util {
namespace {

// Texts in this process are checked with colours off; the decision is taken once, on first use.
const bool kColoursOff = [] {
  setenv("NO_COLOR", "1", 1);
  unsetenv("CLICOLOR_FORCE");
  return true;
}();

bool decide(const std::map<std::string, std::string>& env, bool tty) {
  return decide_colours(
      [&env](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
      },
      tty);
}

TEST(Colours, DecisionFromTheEnvironment) {
  struct Case {
    std::map<std::string, std::string> env;
    bool tty;
    bool on;
  };
  const Case cases[] = {
      {{}, true, true},
      {{}, false, false},
      {{{"CLICOLOR_FORCE", "1"}}, false, true},
      {{{"CLICOLOR_FORCE", "1"}, {"NO_COLOR", "1"}}, false, true},
      {{{"CLICOLOR_FORCE", "yes"}, {"CLICOLOR", "0"}}, false, true},
      {{{"CLICOLOR_FORCE", ""}}, false, true},
      {{{"CLICOLOR_FORCE", "0"}}, true, true},
      {{{"CLICOLOR_FORCE", "0"}}, false, false},
      {{{"CLICOLOR_FORCE", "0"}, {"NO_COLOR", "1"}}, true, false},
      {{{"NO_COLOR", "1"}}, true, false},
      {{{"NO_COLOR", ""}}, true, false},
      {{{"NO_COLOR", "0"}}, true, false},
      {{{"CLICOLOR", "0"}}, true, false},
      {{{"CLICOLOR", "1"}}, true, true},
      {{{"CLICOLOR", "1"}}, false, false},
      {{{"CLICOLOR", ""}}, true, true},
  };
  for (const Case& c : cases) {
    std::string where;
    for (const auto& [k, v] : c.env) where += k + "=\"" + v + "\" ";
    EXPECT_EQ(decide(c.env, c.tty), c.on) << where << (c.tty ? "tty" : "no tty");
  }
}

TEST(Colours, OffWithNoColorAndNoForce) {
  EXPECT_FALSE(colours_enabled());
  std::string out = "x";
  append_painted(out, "♥", Colour::Red);
  append_painted(out, "Q", Colour::Black);
  EXPECT_EQ(out, "x♥Q");
}

TEST(ColoursDeathTest, ForcedColoursWrapEachPiece) {
  // A fresh process, so that the once-per-process decision sees CLICOLOR_FORCE.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("CLICOLOR_FORCE", "1", 1);
        std::string out;
        append_painted(out, "♥", Colour::Red);
        append_painted(out, "Q", Colour::Black);
        std::exit(colours_enabled() && out == "\x1b[31m♥\x1b[0m\x1b[30mQ\x1b[0m" ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vardelic::util
