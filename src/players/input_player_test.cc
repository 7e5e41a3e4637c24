#include "players/input_player.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "game/state.h"
#include "testing/game_testing.h"
#include "util/failure.h"

namespace vardelic::players {
namespace {

using game::Action;
using game::State;
using testing::card;
using testing::hand;
using testing::three_actions;

struct Dialogue {
  std::optional<Action> chosen;
  std::optional<std::string> failure;
  std::string output;
};

using File = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

std::string read_all(std::FILE* f) {
  std::rewind(f);
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  return out;
}

// Runs the dialogue on `state` with `input` as everything typed.
template <std::size_t N>
Dialogue talk(const State<N>& state, std::string_view input) {
  File in(std::tmpfile(), &std::fclose);
  File out(std::tmpfile(), &std::fclose);
  std::fwrite(input.data(), 1, input.size(), in.get());
  std::rewind(in.get());
  Dialogue d;
  try {
    d.chosen = InputPlayer(in.get(), out.get()).play(state);
  } catch (const util::Failure& failure) {
    d.failure = failure.what();
  }
  std::fflush(out.get());
  d.output = read_all(out.get());
  return d;
}

const char kRule[] = "============================================================\n";

const std::string kThreeActionsPrompt = [] {
  return std::string(kRule) +
         "Current player: PlayerId(0)\n"
         "Current enemy: \n\n"
         "Some(\n"
         "    Enemy {\n"
         "        card: ♦J,\n"
         "        health: 20,\n"
         "        attack: 10,\n"
         "        jester_applied: false,\n"
         "    },\n"
         ")\n\n"
         "Available actions are: \n \n0: Play(♠7)\n1: Play(♥9)\n2: Yield \n\n"
         "Type number to select an action:\n";
}();

TEST(InputPlayer, PrintsTheSituationAndReturnsTheChosenAction) {
  Dialogue d = talk(three_actions(), "1\n");
  ASSERT_FALSE(d.failure) << *d.failure;
  EXPECT_EQ(d.chosen, Action::play(card("H9")));
  EXPECT_EQ(d.output, kThreeActionsPrompt);
}

TEST(InputPlayer, ShowsNoneWithoutAnEnemyAndTheMoverAfterAJester) {
  State<3> state = testing::bare_state<3>("");
  state.has_turn = game::PlayerId{2};
  state.action_type = game::ActionType::jester();
  Dialogue d = talk(state, "2\n");
  EXPECT_EQ(d.chosen, Action::change_player(game::PlayerId{2}));
  EXPECT_EQ(d.output, std::string(kRule) +
                          "Current player: PlayerId(2)\n"
                          "Current enemy: \n\nNone\n\n"
                          "Available actions are: \n \n0: ChangePlayer(PlayerId(0))\n"
                          "1: ChangePlayer(PlayerId(1))\n2: ChangePlayer(PlayerId(2)) \n\n"
                          "Type number to select an action:\n");
}

TEST(InputPlayer, ASingleActionIsStillListedAndAwaited) {
  State<2> state = testing::bare_state<2>("DJ", "CK");  // an empty hand can only yield
  Dialogue d = talk(state, "1\n0\n");
  EXPECT_EQ(d.chosen, Action::yield());
  EXPECT_NE(d.output.find("Available actions are: \n \n0: Yield \n\nType number"),
            std::string::npos)
      << d.output;
  EXPECT_NE(d.output.find("Could not match input with any action. Please try again!\n"),
            std::string::npos);
}

TEST(InputPlayer, AcceptedAnswers) {
  struct Case {
    const char* input;
    std::size_t index;
  };
  const Action expected[] = {Action::play(card("S7")), Action::play(card("H9")), Action::yield()};
  for (Case c : {Case{"2\n", 2}, Case{" 2 \n", 2}, Case{"+2\n", 2}, Case{"\t0\r\n", 0},
                 Case{"002\n", 2}, Case{"1", 1}, Case{"+0\n", 0}}) {
    Dialogue d = talk(three_actions(), c.input);
    ASSERT_FALSE(d.failure) << c.input << ": " << *d.failure;
    EXPECT_EQ(d.chosen, expected[c.index]) << c.input;
    EXPECT_EQ(d.output, kThreeActionsPrompt) << c.input;
  }
}

TEST(InputPlayer, ParseFailuresQuoteTheLineAndAskAgain) {
  struct Case {
    std::string input;   // one bad line
    std::string quoted;  // as the message writes it
  };
  const Case cases[] = {
      {"2.0\n", R"("2.0\n")"},
      {"-1\n", R"("-1\n")"},
      {"\n", R"("\n")"},
      {"abc\n", R"("abc\n")"},
      {"  \n", R"("  \n")"},
      {"+\n", R"("+\n")"},
      {"++1\n", R"("++1\n")"},
      {"1 2\n", R"("1 2\n")"},
      {"0x1\n", R"("0x1\n")"},
      {"say \"1\"\n", R"("say \"1\"\n")"},
      {"a\\b\n", R"("a\\b\n")"},
      {"18446744073709551616\n", R"("18446744073709551616\n")"},
      {"99999999999999999999999\n", R"("99999999999999999999999\n")"},
  };
  for (const Case& c : cases) {
    Dialogue d = talk(three_actions(), c.input + "0\n");
    ASSERT_FALSE(d.failure) << c.input << ": " << *d.failure;
    EXPECT_EQ(d.chosen, Action::play(card("S7"))) << c.input;
    EXPECT_EQ(d.output,
              kThreeActionsPrompt + "Failed to parse input " + c.quoted + ". Please try again!\n")
        << c.input;
  }
}

TEST(InputPlayer, OutOfRangeAnswersAskAgain) {
  for (const char* bad : {"3\n", "4\n", "18446744073709551615\n"}) {
    Dialogue d = talk(three_actions(), std::string(bad) + "2\n");
    EXPECT_EQ(d.chosen, Action::yield()) << bad;
    EXPECT_EQ(d.output,
              kThreeActionsPrompt + "Could not match input with any action. Please try again!\n")
        << bad;
  }
}

TEST(InputPlayer, SeveralFailuresThenSuccessWriteOnlyTheirMessages) {
  Dialogue d = talk(three_actions(), "x\n7\n\n1\n");
  EXPECT_EQ(d.chosen, Action::play(card("H9")));
  EXPECT_EQ(d.output, kThreeActionsPrompt +
                          "Failed to parse input \"x\\n\". Please try again!\n"
                          "Could not match input with any action. Please try again!\n"
                          "Failed to parse input \"\\n\". Please try again!\n");
}

TEST(InputPlayer, EndOfInputIsAFailure) {
  for (const char* input : {"", "abc\n", "9\n", "\n\n"}) {
    Dialogue d = talk(three_actions(), input);
    EXPECT_FALSE(d.chosen) << input;
    EXPECT_EQ(d.failure, "Error reading input.") << input;
  }
}

TEST(InputPlayer, NulBytesAreNotDigits) {
  using namespace std::string_literals;
  Dialogue d = talk(three_actions(), "1\0\n2\n"s);
  EXPECT_EQ(d.chosen, Action::yield());
  const std::string message = d.output.substr(kThreeActionsPrompt.size());
  EXPECT_EQ(message.substr(0, 24), "Failed to parse input \"1");
  EXPECT_EQ(message.find('\0'), std::string::npos) << "the NUL is written escaped";
  EXPECT_NE(message.find("\\n\". Please try again!\n"), std::string::npos) << message;
}

TEST(InputPlayer, VeryLongLines) {
  // A megabyte of blanks around a valid answer is trimmed away.
  std::string padded = std::string(1 << 20, ' ') + "1" + std::string(1000, '\t') + "\n";
  Dialogue ok = talk(three_actions(), padded);
  EXPECT_EQ(ok.chosen, Action::play(card("H9")));
  EXPECT_EQ(ok.output, kThreeActionsPrompt);

  // A long run of digits overflows 64 bits and is quoted back whole.
  std::string digits(100000, '7');
  Dialogue bad = talk(three_actions(), digits + "\n0\n");
  EXPECT_EQ(bad.chosen, Action::play(card("S7")));
  EXPECT_EQ(bad.output, kThreeActionsPrompt + "Failed to parse input \"" + digits +
                            "\\n\". Please try again!\n");
}

TEST(InputPlayer, InvalidUtf8IsAReadFailure) {
  Dialogue d = talk(three_actions(), "\xff\xfe\n0\n");
  EXPECT_EQ(d.failure, "Error reading input.");
}

// Only well-formed UTF-8 is echoed: overlong forms, surrogates, code points above U+10FFFF
// and cut sequences would reach the terminal as they are.
TEST(InputPlayer, IllFormedUtf8IsAReadFailure) {
  for (const char* line :
       {"\xc0\x80\n", "\xc1\xbf\n", "\xe0\x9f\xbf\n", "\xed\xa0\x80\n", "\xed\xbf\xbf\n",
        "\xf0\x8f\xbf\xbf\n", "\xf4\x90\x80\x80\n", "\xf5\x80\x80\x80\n", "\xf8\x88\x80\x80\x80\n",
        "\x80\n", "\xe2\x82\n", "x\xf0\x9f\x98\n"}) {
    Dialogue d = talk(three_actions(), std::string(line) + "0\n");
    EXPECT_EQ(d.failure, "Error reading input.") << line;
    EXPECT_EQ(d.output, kThreeActionsPrompt) << line;
  }
  // The limits themselves are text: U+0080, U+07FF, U+0800, U+D7FF, U+E000, U+10FFFF.
  const std::string limits = "\xc2\x80\xdf\xbf\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf";
  Dialogue d = talk(three_actions(), limits + "\n0\n");
  EXPECT_EQ(d.chosen, Action::play(card("S7")));
  // U+0080 is a C1 control, so the echo escapes it; the others are written as they are.
  EXPECT_EQ(d.output, kThreeActionsPrompt + "Failed to parse input \"\\u{80}" + limits.substr(2) +
                          "\\n\". Please try again!\n");
}

// Input that arrives after an end of input (as at a terminal) is read by the next dialogue.
TEST(InputPlayer, EndOfInputIsNotSticky) {
  char path[] = "/tmp/input_player_test_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  File in(fdopen(fd, "r"), &std::fclose);
  File late(std::fopen(path, "a"), &std::fclose);  // its own offset: the reader's stays put
  File out(std::tmpfile(), &std::fclose);
  std::remove(path);
  InputPlayer player(in.get(), out.get());
  EXPECT_THROW(player.play(three_actions()), util::Failure);
  std::fputs("1\n", late.get());
  std::fflush(late.get());
  EXPECT_EQ(player.play(three_actions()), Action::play(card("H9")));
}

TEST(InputPlayer, NoActionsIsAFailure) {
  State<1> state = testing::bare_state<1>("HJ", "CK");
  state.action_type = game::ActionType::discard(10);
  state.hand_refills_left = 0;
  Dialogue d = talk(state, "0\n");
  EXPECT_EQ(d.failure, "No actions available to choose from");
}

TEST(ParseAnswer, Table) {
  const std::pair<std::string_view, std::optional<std::uint64_t>> cases[] = {
      {"0", 0},
      {"7", 7},
      {" 2 ", 2},
      {"+2", 2},
      {"\t\n 42 \r\n", 42},
      {"007", 7},
      {"18446744073709551615", 18446744073709551615ull},
      {"18446744073709551616", std::nullopt},
      {"18446744073709551620", std::nullopt},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"+", std::nullopt},
      {"-0", std::nullopt},
      {"-1", std::nullopt},
      {"2.0", std::nullopt},
      {"1e3", std::nullopt},
      {"1 2", std::nullopt},
      {"+ 2", std::nullopt},
      {"++2", std::nullopt},
      {"x", std::nullopt},
      {"٣", std::nullopt},
  };
  for (auto [line, value] : cases) EXPECT_EQ(parse_answer(line), value) << '"' << line << '"';
}

}  // namespace
}  // namespace vardelic::players
