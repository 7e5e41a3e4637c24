#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vardelic::util {

enum class Colour { Black, Red };

// The colour decision from the environment, as a pure function so it can be tested:
// CLICOLOR_FORCE set to anything but "0" turns colours on; otherwise NO_COLOR (any value)
// turns them off; otherwise they are on when CLICOLOR is unset or not "0" and standard output
// is a terminal. `getenv` answers nullptr for an unset variable.
bool decide_colours(const std::function<const char*(const char*)>& getenv, bool stdout_is_tty);

// Whether texts carry colours in this process: decided once, on first use, from the real
// environment and whether standard output is a terminal.
bool colours_enabled();

// Appends `text` to `out`, wrapped in the SGR sequences for `colour` when colours are on.
void append_painted(std::string& out, std::string_view text, Colour colour);

}  // namespace vardelic::util
