#include "rl/view.h"

namespace vardelic::rl {

void append_plain_card_text(std::string& out, game::Card card) {
  if (card.is_jester()) {
    out += "Jester";
    return;
  }
  out += game::suit_symbol(card.suit);
  out += game::value_text(card.value);
}

std::string plain_card_text(game::Card card) {
  std::string out;
  append_plain_card_text(out, card);
  return out;
}

void append_action_label(std::string& out, const game::Action& action) {
  const auto cards = [&](std::string_view verb) {
    out += verb;
    const char* separator = " ";
    for (game::Card card : action.cards()) {
      out += separator;
      append_plain_card_text(out, card);
      separator = " + ";
    }
  };
  switch (action.kind()) {
    case game::ActionKind::Play:
    case game::ActionKind::AnimalCombo:
    case game::ActionKind::Combo:
      cards("Play");
      break;
    case game::ActionKind::Discard:
      cards("Discard");
      break;
    case game::ActionKind::Yield:
      out += "Yield";
      break;
    case game::ActionKind::ChangePlayer:
      out += "Player ";
      out += std::to_string(action.player().id);
      out += " moves next";
      break;
    case game::ActionKind::RefillHand:
      out += "Refill the hand";
      break;
  }
}

std::string action_label(const game::Action& action) {
  std::string out;
  append_action_label(out, action);
  return out;
}

}  // namespace vardelic::rl
