// Unit tests of the JSON text writer (json.dumps()-compatible output, float
// formatting, string escapes, nesting depth without recursion) and of the
// linear reader (same values as nlohmann's ordered parser, repeated names,
// strictness, ticks, filters).
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "check.hpp"
#include "json/json_read.hpp"
#include "json/json_text.hpp"

using vorlane::json::Value;
namespace json = vorlane::json;

static std::string str_json(std::string_view s) {
  std::string out;
  json::write_string(out, s);
  return out;
}

static void test_float_repr() {
  // Fixed notation while the decimal exponent is in -4..15.
  CHECK_EQ(json::float_repr(1.0), "1.0");
  CHECK_EQ(json::float_repr(0.0), "0.0");
  CHECK_EQ(json::float_repr(-0.0), "-0.0");
  CHECK_EQ(json::float_repr(0.1), "0.1");
  CHECK_EQ(json::float_repr(2.5), "2.5");
  CHECK_EQ(json::float_repr(-2.5), "-2.5");
  CHECK_EQ(json::float_repr(100.0), "100.0");
  CHECK_EQ(json::float_repr(12345.678), "12345.678");
  CHECK_EQ(json::float_repr(1.0 / 3.0), "0.3333333333333333");
  CHECK_EQ(json::float_repr(0.1 + 0.2), "0.30000000000000004");
  CHECK_EQ(json::float_repr(0.0001), "0.0001");
  CHECK_EQ(json::float_repr(0.00012), "0.00012");
  CHECK_EQ(json::float_repr(1e15), "1000000000000000.0");
  CHECK_EQ(json::float_repr(9999999999999998.0), "9999999999999998.0");
  CHECK_EQ(json::float_repr(123456789.125), "123456789.125");
  // Scientific below 1e-4 and from 1e16 on, exponent signed, two digits at least.
  CHECK_EQ(json::float_repr(1e16), "1e+16");
  CHECK_EQ(json::float_repr(1e-05), "1e-05");
  CHECK_EQ(json::float_repr(-1.5e-07), "-1.5e-07");
  CHECK_EQ(json::float_repr(1.5e300), "1.5e+300");
  CHECK_EQ(json::float_repr(1e22), "1e+22");
  CHECK_EQ(json::float_repr(1.2345678901234568e+17), "1.2345678901234568e+17");
  CHECK_EQ(json::float_repr(5e-324), "5e-324");
  CHECK_EQ(json::float_repr(1.7976931348623157e308), "1.7976931348623157e+308");
  CHECK_EQ(json::float_repr(2.2250738585072014e-308), "2.2250738585072014e-308");
  // Non-finite values.
  double inf = std::numeric_limits<double>::infinity();
  double nan = std::numeric_limits<double>::quiet_NaN();
  CHECK_EQ(json::float_repr(nan), "nan");
  CHECK_EQ(json::float_repr(inf), "inf");
  CHECK_EQ(json::float_repr(-inf), "-inf");
  CHECK_EQ(json::float_json(nan), "NaN");
  CHECK_EQ(json::float_json(inf), "Infinity");
  CHECK_EQ(json::float_json(-inf), "-Infinity");
  CHECK_EQ(json::float_json(1e16), "1e+16");
}

static void test_strings() {
  CHECK_EQ(str_json(""), "\"\"");
  CHECK_EQ(str_json("plain / text ~"), "\"plain / text ~\"");
  CHECK_EQ(str_json("a\"b\\c"), "\"a\\\"b\\\\c\"");
  CHECK_EQ(str_json("\n\r\t\b\f"), "\"\\n\\r\\t\\b\\f\"");
  CHECK_EQ(str_json(std::string_view("\x00\x01\x1f\x7f", 4)), "\"\\u0000\\u0001\\u001f\\u007f\"");
  // Non-ASCII as lower-case \u escapes, above U+FFFF as a surrogate pair.
  CHECK_EQ(str_json("caf\xC3\xA9"), "\"caf\\u00e9\"");
  CHECK_EQ(str_json("\xE2\x82\xAC"), "\"\\u20ac\"");
  CHECK_EQ(str_json("\xEF\xBF\xBF"), "\"\\uffff\"");
  CHECK_EQ(str_json("\xF0\x9F\x98\x80"), "\"\\ud83d\\ude00\"");
  CHECK_EQ(str_json("\xF4\x8F\xBF\xBF"), "\"\\udbff\\udfff\"");
  CHECK_EQ(str_json("\xF0\x90\x80\x80"), "\"\\ud800\\udc00\"");
  // Lone surrogates, kept as three-byte sequences, come out as their escape.
  CHECK_EQ(str_json("a\xED\xA0\x80z"), "\"a\\ud800z\"");
  CHECK_EQ(str_json("\xED\xBF\xBF"), "\"\\udfff\"");
  CHECK_EQ(str_json("\xED\xA0\xBD\xED\xB8\x80"), "\"\\ud83d\\ude00\"");
}

static void test_values() {
  CHECK_EQ(json::dumps(Value::null()), "null");
  CHECK_EQ(json::dumps(Value::boolean(true)), "true");
  CHECK_EQ(json::dumps(Value::boolean(false)), "false");
  CHECK_EQ(json::dumps(Value::integer(0)), "0");
  CHECK_EQ(json::dumps(Value::integer(-7)), "-7");
  CHECK_EQ(json::dumps(Value::integer(std::string("123456789012345678901234567890"))),
           "123456789012345678901234567890");
  CHECK_EQ(json::dumps(Value::number(2.0)), "2.0");
  CHECK_EQ(json::dumps(Value::array()), "[]");
  CHECK_EQ(json::dumps(Value::object()), "{}");

  Value obj = Value::object();
  Value& a = obj.add("a", Value::array());
  a.push(Value::integer(1));
  a.push(Value::number(2.5));
  a.push(Value::null());
  a.push(Value::boolean(true));
  a.push(Value::string("x\xC3\xA9"));
  obj.add("b", Value::object());
  obj.add("c", Value::array());
  Value& d = obj.add("d", Value::object());
  d.add("z", Value::integer(1));
  d.add("a", Value::array()).push(Value::array());
  obj.add("\xC3\xA9", Value::number(std::numeric_limits<double>::quiet_NaN()));
  CHECK_EQ(json::dumps(obj),
           "{\"a\": [1, 2.5, null, true, \"x\\u00e9\"], \"b\": {}, \"c\": [], "
           "\"d\": {\"z\": 1, \"a\": [[]]}, \"\\u00e9\": NaN}");

  // Copies are deep and independent.
  Value copy = obj;
  CHECK_EQ(json::dumps(copy), json::dumps(obj));
  copy.members[0].second.items[0] = Value::integer(99);
  CHECK_EQ(json::dumps(obj.members[0].second.items[0]), "1");
  CHECK_EQ(json::dumps(copy.members[0].second.items[0]), "99");
  Value assigned = Value::string("old");
  assigned = obj;
  CHECK_EQ(json::dumps(assigned), json::dumps(obj));
  // Writing appends.
  std::string out = "prefix:";
  json::write(out, Value::integer(3));
  CHECK_EQ(out, "prefix:3");
}

static void test_deep_nesting() {
  const int depth = 100000;
  {
    Value root = Value::array();
    Value* cur = &root;
    for (int i = 1; i < depth; ++i) cur = &cur->push(Value::array());
    std::string text = json::dumps(root);
    CHECK(text == std::string(depth, '[') + std::string(depth, ']'));
    Value copy = root;  // deep copy, no recursion
    CHECK(json::dumps(copy) == text);
  }  // both destroyed here without recursion
  {
    Value root = Value::object();
    Value* cur = &root;
    for (int i = 1; i < depth; ++i) cur = &cur->add("k", Value::object());
    cur->add("leaf", Value::integer(1));
    std::string text = json::dumps(root);
    std::string expected;
    for (int i = 0; i < depth - 1; ++i) expected += "{\"k\": ";
    expected += "{\"leaf\": 1}";
    expected += std::string(depth - 1, '}');
    CHECK(text == expected);
  }
  {
    // A wide and deep mix: every level holds a scalar and the next level.
    Value root = Value::array();
    Value* cur = &root;
    for (int i = 1; i < depth; ++i) {
      cur->push(Value::integer(i));
      cur = &cur->push(Value::object()).add("x", Value::array());
    }
    Value moved = std::move(root);
    CHECK(json::dumps(moved).size() > static_cast<std::size_t>(depth));
  }
}

static bool reads_as_parser(const std::string& text) {
  auto got = json::read_ordered(text);
  return got && got->dump() == json::ordered::parse(text).dump();
}

static void test_read_ordered() {
  // Repeated names keep their first place and take their last value, in
  // small objects (scanned) and large ones (hashed) alike.
  CHECK_EQ(json::read_ordered("{\"a\": 1, \"b\": 2, \"a\": 3}")->dump(), "{\"a\":3,\"b\":2}");
  std::string big = "{";
  for (int i = 0; i < 3000; ++i) big += "\"k" + std::to_string(i % 1000) + "\": [" + std::to_string(i) + "], ";
  big += "\"k5\": {\"x\": {\"k\": 1, \"k\": 2}}, \"last\": null}";
  CHECK(reads_as_parser(big));
  auto v = json::read_ordered(big);
  CHECK(v && v->size() == 1001 && v->begin().key() == "k0" && (*v)["k999"][0] == 2999);
  for (const char* t : {"[]", "{}", "[1, -2, 3.5e3, true, false, null, \"\\u00e9\\ud83d\\ude00\"]", "\"x\"", "12",
                        "[[[{\"a\": [{}, []]}]]]", "{\"\": {\"\": 0}, \"\": 1}", " {\"a\" : 18446744073709551615 } "})
    CHECK(reads_as_parser(t));

  // Strict: what the parser itself would let through is refused.
  std::string error;
  CHECK(!json::read_ordered("\xEF\xBB\xBF{}", &error) && error.find("byte-order mark") != std::string::npos);
  CHECK(!json::read_ordered(std::string("{}\0x", 4), &error) && error.find("NUL") != std::string::npos);
  CHECK(!json::read_ordered("{\"a\": }", &error) && error.find("parse error") != std::string::npos);
  CHECK(!json::read_ordered("{} {}") && !json::read_ordered("") && !json::read_ordered("[1,]"));

  // Ticks come every READ_TICK_EVERY events, and one that throws ends the read.
  std::string list = "[";
  for (int i = 0; i < 10000; ++i) list += "0, ";
  list += "0]";
  int ticks = 0;
  CHECK(json::read_ordered(list, nullptr, [&] { ++ticks; }));
  CHECK(ticks >= 10000 / static_cast<int>(json::READ_TICK_EVERY) && ticks <= 10003 / static_cast<int>(json::READ_TICK_EVERY));
  bool stopped = false;
  try {
    json::read_ordered(list, nullptr, [] { throw std::runtime_error("stop"); });
  } catch (const std::runtime_error&) {
    stopped = true;
  }
  CHECK(stopped);

  // Filters: kept, stubbed and dropped values; the syntax of what is left
  // out is still checked.
  json::ReadFilter filter = [](const std::vector<json::ReadStep>& path, json::ordered::value_t) {
    const json::ReadStep& s = path.back();
    if (s.member && s.name == "drop") return json::ReadTake::Drop;
    if (s.member && s.name == "stub") return json::ReadTake::Stub;
    if (!s.member && s.index >= 2) return json::ReadTake::Drop;
    return path.size() > 2 ? json::ReadTake::Drop : json::ReadTake::Keep;
  };
  auto f = json::read_ordered("{\"drop\": [1, {\"a\": 2}], \"keep\": [0, {\"a\": 1}, 2, 3], \"stub\": {\"b\": [4]}, "
                              "\"drop\": 5, \"x\": {\"deep\": 1}}",
                              nullptr, {}, filter);
  CHECK(f && f->dump() == "{\"keep\":[0,{}],\"stub\":null,\"x\":{\"deep\":1}}");
  CHECK(!json::read_ordered("{\"drop\": [1, }", nullptr, {}, filter));
}

int main() {
  test_float_repr();
  test_strings();
  test_values();
  test_deep_nesting();
  test_read_ordered();
  return check::finish("test_json_text");
}
