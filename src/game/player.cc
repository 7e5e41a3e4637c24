#include "game/player.h"

namespace vardelic::game {

void write_debug(util::DebugWriter& w, PlayerId id) { w.tuple("PlayerId").value(id.id).finish(); }

void write_debug(util::DebugWriter& w, const Player& player) {
  w.record("Player").field("id", player.id).field("hand", player.hand).finish();
}

}  // namespace vardelic::game
