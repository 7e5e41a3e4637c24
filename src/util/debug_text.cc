#include "util/debug_text.h"

namespace vardelic::util {

void DebugWriter::newline_indent(int level) {
  out_ += '\n';
  out_.append(static_cast<std::size_t>(4 * level), ' ');
}

void DebugWriter::begin_item(bool first, bool record_field) {
  if (multi_line_) {
    if (first) {
      if (record_field) out_ += " {";
    } else {
      out_ += ',';
    }
    newline_indent(depth);
    return;
  }
  if (first) {
    if (record_field) out_ += " { ";
  } else {
    out_ += ", ";
  }
}

void DebugWriter::end_container(bool had_items, std::string_view close, bool record) {
  if (!had_items) {
    // A record without fields is its bare name; empty tuples and lists close at once.
    if (!record) out_ += close;
    return;
  }
  if (multi_line_) {
    out_ += ',';
    newline_indent(depth);
    out_ += close;
  } else {
    if (record) out_ += ' ';
    out_ += close;
  }
}

void write_debug(DebugWriter& w, bool value) { w.out() += value ? "true" : "false"; }

void write_debug(DebugWriter& w, std::string_view text) {
  std::string& out = w.out();
  auto escape_code = [&out](unsigned code) {
    static const char* hex = "0123456789abcdef";
    out += "\\u{";
    out += hex[(code >> 4) & 0xf];
    out += hex[code & 0xf];
    out += '}';
  };
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          escape_code(byte);
        } else if (byte == 0xc2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
          // The C1 controls U+0080..U+009F: some terminals act on them, so never raw.
          escape_code(static_cast<unsigned char>(text[++i]));
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

}  // namespace vardelic::util
