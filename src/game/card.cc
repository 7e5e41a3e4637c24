#include "game/card.h"

#include "util/colour.h"

namespace vardelic::game {

std::string_view suit_symbol(CardSuit suit) {
  switch (suit) {
    case CardSuit::Spades:
      return "♠";
    case CardSuit::Hearts:
      return "♥";
    case CardSuit::Diamonds:
      return "♦";
    case CardSuit::Clubs:
      return "♣";
    case CardSuit::None:
      return "";
  }
  return "";
}

std::string_view suit_name(CardSuit suit) {
  static constexpr std::string_view names[] = {"Spades", "Hearts", "Diamonds", "Clubs", "None"};
  return names[static_cast<std::size_t>(suit)];
}

std::string_view value_text(CardValue value) {
  static constexpr std::string_view texts[] = {"Jester", "A", "2", "3",  "4", "5", "6",
                                               "7",      "8", "9", "10", "J", "Q", "K"};
  return texts[static_cast<std::size_t>(value)];
}

std::string_view value_name(CardValue value) {
  static constexpr std::string_view names[] = {"Jester", "Ace",  "Two",   "Three", "Four",
                                               "Five",   "Six",  "Seven", "Eight", "Nine",
                                               "Ten",    "Jack", "Queen", "King"};
  return names[static_cast<std::size_t>(value)];
}

void append_card_text(std::string& out, Card card) {
  if (card.suit != CardSuit::None) {
    bool red = card.suit == CardSuit::Hearts || card.suit == CardSuit::Diamonds;
    util::append_painted(out, suit_symbol(card.suit),
                         red ? util::Colour::Red : util::Colour::Black);
  }
  util::append_painted(out, value_text(card.value), util::Colour::Black);
}

std::string card_text(Card card) {
  std::string out;
  append_card_text(out, card);
  return out;
}

}  // namespace vardelic::game
