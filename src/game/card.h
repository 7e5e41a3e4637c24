#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "util/debug_text.h"

namespace vardelic::game {

// The numbers are visible to Python through int().
enum class CardSuit : std::uint8_t { Spades = 0, Hearts = 1, Diamonds = 2, Clubs = 3, None = 4 };

enum class CardValue : std::uint8_t {
  Jester = 0,
  Ace,
  Two,
  Three,
  Four,
  Five,
  Six,
  Seven,
  Eight,
  Nine,
  Ten,
  Jack,
  Queen,
  King,
};

inline constexpr std::array<CardSuit, 4> kRealSuits = {CardSuit::Spades, CardSuit::Hearts,
                                                       CardSuit::Diamonds, CardSuit::Clubs};

// Ace to Ten, ascending: the values of the tavern deck.
constexpr std::array<CardValue, 10> numbers() {
  std::array<CardValue, 10> values{};
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<CardValue>(i + 1);
  return values;
}

// The partial order of suits: None below every real suit, then Spades < Hearts < Diamonds
// < Clubs.
constexpr std::strong_ordering compare_suits(CardSuit a, CardSuit b) {
  auto rank = [](CardSuit s) { return s == CardSuit::None ? 0 : static_cast<int>(s) + 1; };
  return rank(a) <=> rank(b);
}

// Attack value by value alone: numbers count their face, Jack 10, Queen 15, King 20, Jester 0.
constexpr std::uint16_t attack_value(CardValue value) {
  switch (value) {
    case CardValue::Jack:
      return 10;
    case CardValue::Queen:
      return 15;
    case CardValue::King:
      return 20;
    default:
      return static_cast<std::uint16_t>(value);
  }
}

struct Card {
  CardSuit suit;
  CardValue value;

  constexpr std::uint16_t attack_value() const { return game::attack_value(value); }
  constexpr bool is_jester() const { return suit == CardSuit::None && value == CardValue::Jester; }
  friend constexpr bool operator==(Card, Card) = default;
};
static_assert(sizeof(Card) == 2);

inline constexpr Card kJester{CardSuit::None, CardValue::Jester};

// The sum of attack values of any range of cards; an empty range sums to 0.
template <typename Range>
std::uint16_t attack_sum(const Range& cards) {
  std::uint16_t sum = 0;
  for (const Card& card : cards) sum = static_cast<std::uint16_t>(sum + card.attack_value());
  return sum;
}

std::string_view suit_symbol(CardSuit suit);
std::string_view value_text(CardValue value);
std::string_view suit_name(CardSuit suit);     // "Spades" ... "None"
std::string_view value_name(CardValue value);  // "Jester", "Ace" ... "King"

// Card text: the (coloured) suit symbol immediately followed by the (black) value text;
// the jester is just "Jester".
void append_card_text(std::string& out, Card card);
std::string card_text(Card card);

// A card in any debug text is its card text.
inline void write_debug(util::DebugWriter& w, Card card) { append_card_text(w.out(), card); }

}  // namespace vardelic::game

template <>
struct std::hash<vardelic::game::Card> {
  std::size_t operator()(vardelic::game::Card c) const noexcept {
    return (static_cast<std::size_t>(c.suit) << 8) | static_cast<std::size_t>(c.value);
  }
};
