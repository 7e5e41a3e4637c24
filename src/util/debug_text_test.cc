#include "util/debug_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vardelic::util {
namespace {

struct Point {
  int x;
  std::int8_t y;
};
void write_debug(DebugWriter& w, const Point& p) {
  w.record("Point").field("x", p.x).field("y", p.y).finish();
}

struct Pair {
  std::uint8_t a;
  bool b;
};
void write_debug(DebugWriter& w, const Pair& p) { w.tuple("Pair").value(p.a).value(p.b).finish(); }

struct Shape {
  std::string_view name;
  std::vector<Point> points;
  std::optional<Pair> pair;
  std::vector<int> empty;
};
void write_debug(DebugWriter& w, const Shape& s) {
  w.record("Shape")
      .field("name", s.name)
      .field("points", s.points)
      .field("pair", s.pair)
      .field("empty", s.empty)
      .finish();
}

}  // namespace

template <typename T>
void write_debug(DebugWriter& w, const std::vector<T>& items) {
  w.list().elements(items).finish();
}

namespace {

TEST(DebugText, Scalars) {
  EXPECT_EQ(debug_text(0), "0");
  EXPECT_EQ(debug_text(-17), "-17");
  EXPECT_EQ(debug_text(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(debug_text(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
  // One-byte integers are numbers, never characters.
  EXPECT_EQ(debug_text(std::int8_t{-5}), "-5");
  EXPECT_EQ(debug_text(std::uint8_t{200}), "200");
  EXPECT_EQ(debug_text(std::size_t{3}), "3");
  EXPECT_EQ(debug_text(true), "true");
  EXPECT_EQ(debug_text(false), "false");
}

TEST(DebugText, TextsAreQuotedWithEscapes) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"abc", R"("abc")"},
      {"", R"("")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"a\\b", R"("a\\b")"},
      {"abc\n", R"("abc\n")"},
      {"\t\r", R"("\t\r")"},
      {"♥ ok", "\"♥ ok\""},
      {"\x1b[31m", R"("\u{1b}[31m")"},
      // C1 controls (U+0080..U+009F, two bytes in UTF-8) are escaped; U+00A0 and up are not.
      {"a\u009bb\u0085", R"("a\u{9b}b\u{85}")"},
      {"\u00a0\u00e9", "\"\u00a0\u00e9\""},
  };
  for (auto [text, quoted] : cases) EXPECT_EQ(debug_text(text), quoted) << text;
  EXPECT_EQ(debug_text(std::string("x\"y")), R"("x\"y")");
  // Other control characters are escaped too, never written raw.
  for (char c : {'\0', '\x01', '\x1b', '\x7f'}) {
    std::string text = debug_text(std::string_view(&c, 1));
    EXPECT_EQ(text.find(c), std::string::npos) << int{c};
    EXPECT_EQ(text.substr(0, 2), "\"\\") << int{c};
  }
}

TEST(DebugText, StringLiteralsAreTextsToo) { EXPECT_EQ(debug_text("a\"b"), R"("a\"b")"); }

TEST(DebugText, Optionals) {
  EXPECT_EQ(debug_text(std::optional<int>()), "None");
  EXPECT_EQ(debug_text(std::optional<int>(5)), "Some(5)");
  EXPECT_EQ(debug_text(std::optional<std::optional<int>>(std::optional<int>())), "Some(None)");
  EXPECT_EQ(debug_text(std::optional<int>(5), true), "Some(\n    5,\n)");
  EXPECT_EQ(debug_text(std::optional<int>(), true), "None");
}

TEST(DebugText, SingleLineShapes) {
  EXPECT_EQ(debug_text(Point{1, -2}), "Point { x: 1, y: -2 }");
  EXPECT_EQ(debug_text(Pair{3, true}), "Pair(3, true)");
  EXPECT_EQ(debug_text(std::vector<int>{}), "[]");
  EXPECT_EQ(debug_text(std::vector<int>{4, 5}), "[4, 5]");
  EXPECT_EQ(debug_text(Shape{"s", {{1, 2}, {3, 4}}, Pair{7, false}, {}}),
            "Shape { name: \"s\", points: [Point { x: 1, y: 2 }, Point { x: 3, y: 4 }], "
            "pair: Some(Pair(7, false)), empty: [] }");
}

TEST(DebugText, MultiLineShapes) {
  EXPECT_EQ(debug_text(Point{1, -2}, true), "Point {\n    x: 1,\n    y: -2,\n}");
  EXPECT_EQ(debug_text(Pair{3, true}, true), "Pair(\n    3,\n    true,\n)");
  EXPECT_EQ(debug_text(std::vector<int>{}, true), "[]");
  EXPECT_EQ(debug_text(std::vector<int>{4, 5}, true), "[\n    4,\n    5,\n]");
  EXPECT_EQ(debug_text(Shape{"a\nb", {{1, 2}}, Pair{7, false}, {}}, true),
            "Shape {\n"
            "    name: \"a\\nb\",\n"
            "    points: [\n"
            "        Point {\n"
            "            x: 1,\n"
            "            y: 2,\n"
            "        },\n"
            "    ],\n"
            "    pair: Some(\n"
            "        Pair(\n"
            "            7,\n"
            "            false,\n"
            "        ),\n"
            "    ),\n"
            "    empty: [],\n"
            "}");
  EXPECT_EQ(debug_text(Shape{"", {}, std::nullopt, {}}, true),
            "Shape {\n    name: \"\",\n    points: [],\n    pair: None,\n    empty: [],\n}");
}

}  // namespace
}  // namespace vardelic::util
