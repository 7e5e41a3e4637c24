#include "players/input_player.h"

#include <cstdlib>
#include <memory>

#include "game/enemy.h"
#include "util/debug_text.h"
#include "util/failure.h"

namespace vardelic::players {
namespace {

// Well-formed UTF-8 only (Unicode's table 3-7): no overlong forms, no surrogates, nothing
// above U+10FFFF. Whatever passes is echoed back unchanged, so it must be text a terminal reads.
bool valid_utf8(std::string_view text) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = byte(i);
    std::size_t extra;
    unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the lead
    if (c < 0x80) {
      extra = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const unsigned char next = byte(i + k);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
    }
    i += extra + 1;
  }
  return true;
}

void write(std::FILE* out, std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); }

// One line with its line end; nullopt when nothing can be read. A line that is not valid
// UTF-8 is not a line of text, so it is a read failure too.
std::optional<std::string> read_line(std::FILE* in) {
  char* buffer = nullptr;
  std::size_t capacity = 0;
  ssize_t length = getline(&buffer, &capacity, in);
  std::unique_ptr<char, decltype(&std::free)> owned(buffer, &std::free);
  if (length <= 0) {
    // The stream's end-of-file flag is sticky: cleared, a later dialogue reads again, which
    // at a terminal (where the end of input is a key press) gets the next line typed.
    std::clearerr(in);
    return std::nullopt;
  }
  std::string line(buffer, static_cast<std::size_t>(length));
  if (!valid_utf8(line)) return std::nullopt;
  return line;
}

}  // namespace

std::optional<std::uint64_t> parse_answer(std::string_view line) {
  auto is_space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
  };
  while (!line.empty() && is_space(line.front())) line.remove_prefix(1);
  while (!line.empty() && is_space(line.back())) line.remove_suffix(1);
  if (!line.empty() && line.front() == '+') line.remove_prefix(1);
  if (line.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : line) {
    if (c < '0' || c > '9') return std::nullopt;
    auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

template <std::size_t N>
game::Action InputPlayer::play(const game::State<N>& state) const {
  std::vector<game::Action> actions = state.get_action_space();
  if (actions.empty()) throw util::Failure("No actions available to choose from");

  std::string text(60, '=');
  text += "\nCurrent player: " + util::debug_text(state.has_turn) + "\n";
  std::optional<game::Enemy> enemy;
  if (const game::Enemy* e = state.current_enemy()) enemy = *e;
  text += "Current enemy: \n\n" + util::debug_text(enemy, true) + "\n\n";
  std::string listing;
  for (std::size_t i = 0; i < actions.size(); ++i) {
    listing += "\n" + std::to_string(i) + ": " + game::action_text(actions[i]);
  }
  text += "Available actions are: \n " + listing + " \n\n";
  text += "Type number to select an action:\n";
  write(out_, text);
  std::fflush(out_);

  while (true) {
    std::optional<std::string> line = read_line(in_);
    if (!line) throw util::Failure("Error reading input.");
    std::optional<std::uint64_t> answer = parse_answer(*line);
    if (!answer) {
      write(out_, "Failed to parse input " + util::debug_text(std::string_view(*line)) +
                      ". Please try again!\n");
    } else if (*answer >= actions.size()) {
      write(out_, "Could not match input with any action. Please try again!\n");
    } else {
      return actions[*answer];
    }
    std::fflush(out_);
  }
}

template game::Action InputPlayer::play(const game::State<1>&) const;
template game::Action InputPlayer::play(const game::State<2>&) const;
template game::Action InputPlayer::play(const game::State<3>&) const;
template game::Action InputPlayer::play(const game::State<4>&) const;

}  // namespace vardelic::players
