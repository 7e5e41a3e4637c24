#include "util/colour.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vardelic::util {

bool decide_colours(const std::function<const char*(const char*)>& getenv, bool stdout_is_tty) {
  const char* force = getenv("CLICOLOR_FORCE");
  if (force != nullptr && std::strcmp(force, "0") != 0) return true;
  if (getenv("NO_COLOR") != nullptr) return false;
  const char* clicolor = getenv("CLICOLOR");
  bool wanted = clicolor == nullptr || std::strcmp(clicolor, "0") != 0;
  return wanted && stdout_is_tty;
}

bool colours_enabled() {
  static const bool enabled =
      decide_colours([](const char* name) { return std::getenv(name); }, isatty(STDOUT_FILENO));
  return enabled;
}

void append_painted(std::string& out, std::string_view text, Colour colour) {
  if (!colours_enabled()) {
    out += text;
    return;
  }
  out += colour == Colour::Red ? "\x1b[31m" : "\x1b[30m";
  out += text;
  out += "\x1b[0m";
}

}  // namespace vardelic::util
