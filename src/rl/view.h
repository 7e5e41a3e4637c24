#pragma once

#include <string>

#include "game/action.h"
#include "game/card.h"

namespace vardelic::rl {

// A card's text without colour codes, for data rather than a terminal: the suit symbol and
// the value ("♥Q", "♠10"); the jester is "Jester".
void append_plain_card_text(std::string& out, game::Card card);
std::string plain_card_text(game::Card card);

// A move as a short text for a person choosing it: "Play ♥Q", "Play ♥A + ♥5",
// "Discard ♠3 + ♦7", "Yield", "Player 2 moves next", "Refill the hand".
void append_action_label(std::string& out, const game::Action& action);
std::string action_label(const game::Action& action);

}  // namespace vardelic::rl
