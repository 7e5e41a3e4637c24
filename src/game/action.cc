#include "game/action.h"

namespace vardelic::game {

std::string_view kind_name(ActionKind kind) {
  static constexpr std::string_view names[] = {"Play",    "AnimalCombo",  "Combo",     "Yield",
                                               "Discard", "ChangePlayer", "RefillHand"};
  return names[static_cast<std::size_t>(kind)];
}

void write_debug(util::DebugWriter& w, const Action& action) {
  std::string_view name = kind_name(action.kind());
  switch (action.kind()) {
    case ActionKind::Play:
      w.tuple(name).value(action.cards()[0]).finish();
      break;
    case ActionKind::AnimalCombo:
      w.tuple(name).value(action.cards()[0]).value(action.cards()[1]).finish();
      break;
    case ActionKind::Combo:
    case ActionKind::Discard:
      w.tuple(name).value(action.cards()).finish();
      break;
    case ActionKind::ChangePlayer:
      w.tuple(name).value(action.player()).finish();
      break;
    case ActionKind::Yield:
    case ActionKind::RefillHand:
      w.out() += name;
      break;
  }
}

std::string action_text(const Action& action) { return util::debug_text(action); }

void write_debug(util::DebugWriter& w, const GameResult& result) {
  if (result.won()) {
    w.out() += "Won";
  } else {
    w.tuple("Lost").value(result.score()).finish();
  }
}

}  // namespace vardelic::game
