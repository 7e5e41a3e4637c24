#include "rl/view.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "game/action.h"
#include "rl/episode.h"
#include "testing/game_testing.h"

namespace vardelic::rl {
namespace {

using game::Action;
using game::PlayerId;
using vardelic::testing::card;

TEST(ViewTextTest, LabelsNameTheMoveAndItsCards) {
  const std::vector<std::pair<Action, std::string>> cases = {
      {Action::play(card("HQ")), "Play ♥Q"},
      {Action::animal_combo(card("HA"), card("H5")), "Play ♥A + ♥5"},
      {Action::combo(std::vector{card("S3"), card("D3"), card("C3")}), "Play ♠3 + ♦3 + ♣3"},
      {Action::discard(std::vector{card("S10"), game::kJester}), "Discard ♠10 + Jester"},
      {Action::yield(), "Yield"},
      {Action::change_player(PlayerId{2}), "Player 2 moves next"},
      {Action::refill_hand(), "Refill the hand"},
  };
  for (const auto& [action, label] : cases) EXPECT_EQ(action_label(action), label);
}

TEST(RecordedEpisodeTest, KeepsItsSeedAndMovesAndNamesTheFirstIllegalMove) {
  AnyEpisode drawn(2, std::nullopt);
  ASSERT_TRUE(drawn.seed().has_value());
  AnyEpisode game(2, 11);
  EXPECT_EQ(game.seed(), 11u);
  const std::int64_t first = game.legal().ids()[0];
  AnyEpisode copy(2, 11);
  copy.step(first);
  const std::int64_t second = copy.legal().ids()[0];
  const std::vector<std::int64_t> ids = {first, second, 999};
  try {
    game.step_all(ids);
    FAIL() << "an illegal id was stepped";
  } catch (const std::invalid_argument& error) {
    EXPECT_EQ(
        std::string(error.what()).rfind("move 2: action id 999 is not legal (legal ids: [", 0), 0u)
        << error.what();
  }
  EXPECT_EQ(game.moves(), (std::vector<std::int16_t>{static_cast<std::int16_t>(first),
                                                     static_cast<std::int16_t>(second)}));
  copy.step(second);  // the moves before the illegal one stay played
  EXPECT_EQ(game.state(), copy.state());
}

}  // namespace
}  // namespace vardelic::rl
