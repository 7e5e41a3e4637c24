// Game.view(player=None), state_view(state, player=None) and describe(action_id, game): a
// seat's view as plain Python data, on game::seat_view. Built here rather than in Python
// because viewers and harnesses ask for one per move: the keys are interned once and every
// card's dict is copied from a prebuilt one (a copy each, so that no view shares a mutable
// object with another).
#include "rl/view.h"

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "game/card.h"
#include "game/information.h"
#include "game/state.h"
#include "python/capsule/nanobind_shared.h"
#include "rl/episode.h"
#include "rl/python/records.h"

namespace nb = nanobind;
using namespace nb::literals;

namespace vardelic::rl {
namespace {

nb::object str_of(std::string_view s) {
  return nb::steal(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

nb::object interned(const char* s) { return nb::steal(PyUnicode_InternFromString(s)); }

nb::object integer(long long value) { return nb::steal(PyLong_FromLongLong(value)); }

// The view's strings and card dicts, made on first use and kept for the process.
struct Names {
  nb::object num_players = interned("num_players"), player = interned("player"),
             to_move = interned("to_move"), phase = interned("phase"), owed = interned("owed"),
             level = interned("level"), yields_in_a_row = interned("yields_in_a_row"),
             refills_left = interned("refills_left"), over = interned("over"),
             result = interned("result"), score = interned("score"), hand = interned("hand"),
             hand_sizes = interned("hand_sizes"), enemy = interned("enemy"),
             castle_left = interned("castle_left"), tavern_size = interned("tavern_size"),
             discard = interned("discard"), played = interned("played"), legal = interned("legal"),
             card = interned("card"), health = interned("health"), attack = interned("attack"),
             damage = interned("damage"), max_hand_size = interned("max_hand_size"),
             suit_blocked = interned("suit_blocked"), jester = interned("jester"),
             id = interned("id"), kind = interned("kind"), cards = interned("cards"),
             label = interned("label"), suit = interned("suit"), value = interned("value"),
             text_key = interned("text"), won = interned("Won"), lost = interned("Lost");
  std::array<nb::object, 3> phases{interned("play"), interned("discard"), interned("jester")};
  std::array<nb::object, 3> ranks{interned("Jack"), interned("Queen"), interned("King")};
  std::array<nb::object, 7> kinds;
  // Indexed [suit][value]: the dict each card's view is copied from.
  std::array<std::array<nb::object, 14>, 5> cards_by_suit;

  // Dicts with every key of a view and of a legal move, copied to start each one at its
  // full size rather than grown key by key.
  nb::object view_template, move_template;

  Names() {
    view_template = nb::steal(PyDict_New());
    for (const nb::object* key :
         {&num_players,  &player,        &to_move,     &phase,   &owed,   &level, &yields_in_a_row,
          &refills_left, &max_hand_size, &over,        &result,  &score,  &hand,  &hand_sizes,
          &enemy,        &castle_left,   &tavern_size, &discard, &played, &legal}) {
      PyDict_SetItem(view_template.ptr(), key->ptr(), Py_None);
    }
    move_template = nb::steal(PyDict_New());
    for (const nb::object* key : {&id, &kind, &cards, &label}) {
      PyDict_SetItem(move_template.ptr(), key->ptr(), Py_None);
    }
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      kinds[k] = str_of(game::kind_name(static_cast<game::ActionKind>(k)));
    }
    for (std::size_t s = 0; s < 5; ++s) {
      for (std::size_t v = 0; v < 14; ++v) {
        const game::Card c{static_cast<game::CardSuit>(s), static_cast<game::CardValue>(v)};
        nb::object dict = nb::steal(PyDict_New());
        const nb::object suit_value =
            c.suit == game::CardSuit::None ? nb::none() : str_of(game::suit_name(c.suit));
        PyDict_SetItem(dict.ptr(), suit.ptr(), suit_value.ptr());
        PyDict_SetItem(dict.ptr(), value.ptr(), str_of(game::value_name(c.value)).ptr());
        PyDict_SetItem(dict.ptr(), text_key.ptr(), str_of(plain_card_text(c)).ptr());
        cards_by_suit[s][v] = dict;
      }
    }
  }
};

const Names& names() {
  // Never destroyed: the interpreter may be gone when static destructors run.
  static const Names* names = new Names();
  return *names;
}

void set(nb::handle dict, const nb::object& key, const nb::object& value) {
  if (!value || PyDict_SetItem(dict.ptr(), key.ptr(), value.ptr()) != 0) {
    throw nb::python_error();
  }
}

nb::object card_dict(const Names& n, game::Card card) {
  const auto& prebuilt =
      n.cards_by_suit[static_cast<std::size_t>(card.suit)][static_cast<std::size_t>(card.value)];
  return nb::steal(PyDict_Copy(prebuilt.ptr()));
}

template <typename Range>
nb::object card_list(const Names& n, const Range& cards) {
  nb::object list = nb::steal(PyList_New(static_cast<Py_ssize_t>(std::size(cards))));
  if (!list) throw nb::python_error();
  Py_ssize_t i = 0;
  for (game::Card card : cards) {
    nb::object item = card_dict(n, card);
    if (!item) throw nb::python_error();
    PyList_SET_ITEM(list.ptr(), i++, item.release().ptr());
  }
  return list;
}

nb::object enemy_dict(const Names& n, const std::optional<game::EnemyView>& enemy) {
  if (!enemy) return nb::none();
  nb::object dict = nb::steal(PyDict_New());
  set(dict, n.card, card_dict(n, enemy->card));
  set(dict, n.health, integer(enemy->health));
  set(dict, n.damage, integer(enemy->damage));
  set(dict, n.attack, integer(enemy->attack));
  set(dict, n.suit_blocked, nb::bool_(enemy->immune()));
  set(dict, n.jester, nb::bool_(enemy->jester_applied));
  return dict;
}

// The discard pile as the seat knows it: its cards, in card-kind order (suit by suit, Ace to
// King, then jesters), since the order they lie in is not part of what a seat knows.
nb::object discard_list(const Names& n, const std::array<std::uint8_t, game::kCardKinds>& counts,
                        std::size_t size) {
  nb::object list = nb::steal(PyList_New(static_cast<Py_ssize_t>(size)));
  if (!list) throw nb::python_error();
  Py_ssize_t at = 0;
  for (std::size_t kind = 0; kind < game::kCardKinds; ++kind) {
    const game::Card card = kind == 52 ? game::kJester
                                       : game::Card{static_cast<game::CardSuit>(kind / 13),
                                                    static_cast<game::CardValue>(kind % 13 + 1)};
    for (std::uint8_t k = 0; k < counts[kind]; ++k) {
      nb::object item = card_dict(n, card);
      if (!item) throw nb::python_error();
      PyList_SET_ITEM(list.ptr(), at++, item.release().ptr());
    }
  }
  return list;
}

nb::object label_of(const game::Action& action, std::string& scratch) {
  scratch.clear();
  append_action_label(scratch, action);
  nb::object label = str_of(scratch);
  if (!label) throw nb::python_error();
  return label;
}

nb::object legal_list(const Names& n, const LegalActions& legal) {
  std::array<std::int16_t, kNumActions> ids{};
  const auto listed = legal.ids();
  std::copy(listed.begin(), listed.end(), ids.begin());
  std::sort(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(listed.size()));
  nb::object list = nb::steal(PyList_New(static_cast<Py_ssize_t>(listed.size())));
  if (!list) throw nb::python_error();
  std::string label;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const game::Action& action = legal.action(ids[i]);
    nb::object entry = nb::steal(PyDict_Copy(n.move_template.ptr()));
    if (!entry) throw nb::python_error();
    set(entry, n.id, integer(ids[i]));
    set(entry, n.kind, n.kinds[static_cast<std::size_t>(action.kind())]);
    set(entry, n.cards, card_list(n, action.cards()));
    set(entry, n.label, label_of(action, label));
    PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), entry.release().ptr());
  }
  return list;
}

// Everything but the legal moves and the result comes from the seat's view (game/information.h),
// the one definition of what a seat may know; the result is public and kept by the episode.
template <std::size_t N>
nb::object view_of(const Episode<N>& episode, std::size_t seat) {
  const Names& n = names();
  const game::SeatView<N> seen = game::seat_view(episode.state(), seat);
  nb::object view = nb::steal(PyDict_Copy(n.view_template.ptr()));
  if (!view) throw nb::python_error();
  set(view, n.num_players, integer(N));
  set(view, n.player, integer(seen.seat));
  set(view, n.to_move, integer(seen.to_move));
  set(view, n.phase, n.phases[static_cast<std::size_t>(seen.phase.kind)]);
  set(view, n.owed,
      seen.phase.kind == game::ActionType::Kind::Discard ? integer(seen.phase.amount) : nb::none());
  set(view, n.level, integer(seen.level));
  set(view, n.yields_in_a_row, integer(seen.times_yielded));
  set(view, n.refills_left, integer(seen.refills_left));
  set(view, n.max_hand_size, integer(seen.max_hand_size));
  set(view, n.over, nb::bool_(episode.done()));
  const auto& result = episode.result();
  set(view, n.result, !result ? nb::none() : result->won() ? n.won : n.lost);
  set(view, n.score, integer(episode.reward()));

  set(view, n.hand, card_list(n, seen.hand));
  nb::object sizes = nb::steal(PyList_New(N));
  if (!sizes) throw nb::python_error();
  for (std::size_t p = 0; p < N; ++p) {
    PyList_SET_ITEM(sizes.ptr(), static_cast<Py_ssize_t>(p),
                    integer(seen.hand_sizes[p]).release().ptr());
  }
  set(view, n.hand_sizes, sizes);

  set(view, n.enemy, enemy_dict(n, seen.enemy));
  nb::object castle = nb::steal(PyDict_New());
  for (std::size_t r = 0; r < 3; ++r) {
    set(castle, n.ranks[r], integer(static_cast<long long>(seen.enemies_left_of_rank(r))));
  }
  set(view, n.castle_left, castle);
  set(view, n.tavern_size, integer(seen.tavern_size));
  set(view, n.discard, discard_list(n, seen.discard, seen.discard_size));
  set(view, n.played, card_list(n, seen.attack_cards));

  const bool moves = !episode.done() && seat == seen.to_move;
  set(view, n.legal, moves ? legal_list(n, episode.legal()) : nb::steal(PyList_New(0)));
  return view;
}

// An int argument (numpy's too); one beyond the int64 range becomes the nearest int64, which
// is refused as out of range rather than as a wrong type.
long long int_argument(nb::handle value, const char* name, const char* expected) {
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
    throw nb::type_error((std::string(name) + " must be " + expected + ", not " +
                          nb::type_name(value.type()).c_str())
                             .c_str());
  }
  nb::object number = nb::steal(PyNumber_Index(value.ptr()));
  if (!number) throw nb::python_error();
  int overflow = 0;
  const long long result = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (result == -1 && PyErr_Occurred()) throw nb::python_error();
  if (overflow != 0) {
    return overflow > 0 ? std::numeric_limits<long long>::max()
                        : std::numeric_limits<long long>::min();
  }
  return result;
}

std::size_t seat_of(const AnyEpisode& game, nb::handle player) {
  if (player.is_none()) return game.current_player();
  const long long value = int_argument(player, "player", "None or an int");
  if (value < 0 || value >= static_cast<long long>(game.num_players())) {
    throw nb::value_error((std::string("player ") + nb::str(player).c_str() +
                           " is not at a table of " + std::to_string(game.num_players()))
                              .c_str());
  }
  return static_cast<std::size_t>(value);
}

}  // namespace

void bind_view(nb::module_& m) {
  nb::handle game = nb::type<AnyEpisode>();
  nb::cpp_function_def(
      [](const AnyEpisode& self, nb::handle player) {
        const std::size_t seat = seat_of(self, player);
        return self.visit([seat](const auto& episode) { return view_of(episode, seat); });
      },
      nb::scope(game), nb::name("view"), nb::is_method(), "player"_a = nb::none(),
      "What `player` (default: the player to move) may know of the game, as a dict of plain "
      "values that json.dumps takes as it is; README.md lists its keys. 'legal' lists the "
      "moves, in id order, only in the view of the player to move.");

  m.def(
      "state_view",
      [](nb::handle state, nb::handle player) {
        const AnyEpisode game(python::shared::state_of(state));
        const std::size_t seat = seat_of(game, player);
        return game.visit([seat](const auto& episode) { return view_of(episode, seat); });
      },
      "state"_a, "player"_a = nb::none(),
      "Game.view for a vardelic PyState: what `player` (default: the player to move) may know "
      "there. For Python players: the ids of its 'legal' list turn into actions with "
      "to_action(state, id).");

  // For the tests: the game with everything hidden from `player` dealt again (deal_hidden).
  m.def(
      "_deal_hidden",
      [](const AnyEpisode& self, long long player, std::uint64_t seed) {
        if (player < 0 || player >= static_cast<long long>(self.num_players())) {
          throw nb::value_error("player is not at the table");
        }
        util::ChaCha12Rng rng = util::ChaCha12Rng::from_seed(seed);
        return self.visit([&](const auto& episode) {
          return AnyEpisode(game::StateEnum(
              game::deal_hidden(episode.state(), static_cast<std::size_t>(player), rng)));
        });
      },
      "game"_a, "player"_a, "seed"_a);

  m.def(
      "describe",
      [](nb::handle action_id, const AnyEpisode& game) {
        const long long id = int_argument(action_id, "action_id", "an int");
        if (!game.legal().is_legal(id)) throw nb::value_error(game.illegal_message(id).c_str());
        return action_label(game.legal().action(id));
      },
      "action_id"_a, "game"_a,
      "The label of a legal id of `game`, as in its view's 'legal' list (\"Play ♥Q + ♥5\").");
}

}  // namespace vardelic::rl
