#pragma once

#include <concepts>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vardelic::util {

// Writer of the shared debug-text shapes. Single-line form:
//   Name { a: 1, b: [x, y] }      Name(1, 2)      [x, y]      []
// Multi-line form: every field, payload or element on a line of its own, four spaces deeper
// than its container and followed by ",":
//   Name {
//       a: 1,
//       b: [
//           x,
//       ],
//   }
// Values are written by overloads of `write_debug(DebugWriter&, const T&)` found by
// argument-dependent lookup; the ones for numbers, booleans, texts and optionals live here.
class DebugWriter {
 public:
  explicit DebugWriter(bool multi_line) : multi_line_(multi_line) {}

  std::string& out() { return out_; }
  std::string take() { return std::move(out_); }
  bool multi_line() const { return multi_line_; }

  class Record;
  class Tuple;
  class List;
  Record record(std::string_view name);
  Tuple tuple(std::string_view name);
  List list();

  // Opens an item of a container: the separator or the new line with its indentation.
  void begin_item(bool first, bool record_field);
  // Closes a container that had items; `close` is "}", ")" or "]".
  void end_container(bool had_items, std::string_view close, bool record);

  int depth = 0;

 private:
  void newline_indent(int level);
  bool multi_line_;
  std::string out_;
};

template <typename T>
concept DebugWritable = requires(DebugWriter& w, const T& v) { write_debug(w, v); };

class DebugWriter::Record {
 public:
  Record(DebugWriter& w, std::string_view name) : w_(w) {
    w_.out() += name;
    ++w_.depth;
  }
  template <typename T>
  Record& field(std::string_view name, const T& value) {
    w_.begin_item(first_, true);
    first_ = false;
    w_.out() += name;
    w_.out() += ": ";
    write_debug(w_, value);
    return *this;
  }
  void finish() {
    --w_.depth;
    w_.end_container(!first_, "}", true);
  }

 private:
  DebugWriter& w_;
  bool first_ = true;
};

class DebugWriter::Tuple {
 public:
  Tuple(DebugWriter& w, std::string_view name) : w_(w) {
    w_.out() += name;
    w_.out() += '(';
    ++w_.depth;
  }
  template <typename T>
  Tuple& value(const T& v) {
    w_.begin_item(first_, false);
    first_ = false;
    write_debug(w_, v);
    return *this;
  }
  void finish() {
    --w_.depth;
    w_.end_container(!first_, ")", false);
  }

 private:
  DebugWriter& w_;
  bool first_ = true;
};

class DebugWriter::List {
 public:
  explicit List(DebugWriter& w) : w_(w) {
    w_.out() += '[';
    ++w_.depth;
  }
  template <typename T>
  List& element(const T& v) {
    w_.begin_item(first_, false);
    first_ = false;
    write_debug(w_, v);
    return *this;
  }
  template <typename Range>
  List& elements(const Range& range) {
    for (const auto& v : range) element(v);
    return *this;
  }
  void finish() {
    --w_.depth;
    w_.end_container(!first_, "]", false);
  }

 private:
  DebugWriter& w_;
  bool first_ = true;
};

inline DebugWriter::Record DebugWriter::record(std::string_view name) {
  return Record(*this, name);
}
inline DebugWriter::Tuple DebugWriter::tuple(std::string_view name) { return Tuple(*this, name); }
inline DebugWriter::List DebugWriter::list() { return List(*this); }

void write_debug(DebugWriter& w, bool value);
void write_debug(DebugWriter& w, std::string_view text);  // quoted, with escapes
// Without these a string literal would convert to bool before it converts to a view.
inline void write_debug(DebugWriter& w, const char* text) {
  write_debug(w, std::string_view(text));
}
inline void write_debug(DebugWriter& w, const std::string& text) {
  write_debug(w, std::string_view(text));
}
template <std::integral T>
  requires(!std::same_as<T, bool>)
void write_debug(DebugWriter& w, T value) {
  w.out() += std::to_string(value);
}
// Single-byte integers are numbers here, never characters.
inline void write_debug(DebugWriter& w, signed char value) {
  w.out() += std::to_string(int{value});
}
inline void write_debug(DebugWriter& w, unsigned char value) {
  w.out() += std::to_string(unsigned{value});
}

template <typename T>
void write_debug(DebugWriter& w, const std::optional<T>& value) {
  if (!value) {
    w.out() += "None";
    return;
  }
  w.tuple("Some").value(*value).finish();
}

// The debug text of any writable value.
template <typename T>
std::string debug_text(const T& value, bool multi_line = false) {
  DebugWriter w(multi_line);
  write_debug(w, value);
  return w.take();
}

}  // namespace vardelic::util
