// JSON values and the JSON text writer with the host serializer's default
// output (Python's json.dumps()): ", " and ": " separators, members in
// insertion order, every non-ASCII character as a lower-case \uXXXX escape
// (a UTF-16 surrogate pair above U+FFFF), floats in shortest round-trip form,
// NaN / Infinity / -Infinity.  The writer does not recurse, so any nesting
// depth is safe; so do copying and destroying a Value.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlane::json {

struct Value {
  enum class Type { Null, Bool, Int, Float, String, Array, Object };
  Type type = Type::Null;
  bool b = false;
  double f = 0.0;
  // Int: the decimal digits (with "-" when negative), so that integers of any
  // size survive.  String: UTF-8 text (lone surrogates allowed).
  std::string s;
  std::vector<Value> items;                            // Array
  std::vector<std::pair<std::string, Value>> members;  // Object, insertion order

  Value() = default;
  // Copying and destruction walk the tree with a heap stack instead of the
  // call stack, so a value nested a million levels deep is harmless.
  Value(const Value& other);
  Value& operator=(const Value& other);
  Value(Value&&) noexcept = default;
  Value& operator=(Value&&) noexcept = default;
  ~Value();

  static Value null() { return Value{}; }
  static Value boolean(bool v) { Value x; x.type = Type::Bool; x.b = v; return x; }
  static Value integer(std::string digits) { Value x; x.type = Type::Int; x.s = std::move(digits); return x; }
  static Value integer(long long v) { return integer(std::to_string(v)); }
  static Value number(double v) { Value x; x.type = Type::Float; x.f = v; return x; }
  static Value string(std::string v) { Value x; x.type = Type::String; x.s = std::move(v); return x; }
  static Value array() { Value x; x.type = Type::Array; return x; }
  static Value object() { Value x; x.type = Type::Object; return x; }

  // Convenience for building: append an array element / an object member.
  Value& push(Value v) { items.push_back(std::move(v)); return items.back(); }
  Value& add(std::string key, Value v) {
    members.emplace_back(std::move(key), std::move(v));
    return members.back().second;
  }
};

// Appends the JSON text of `v` to `out`.
void write(std::string& out, const Value& v);
inline std::string dumps(const Value& v) { std::string o; write(o, v); return o; }

// Appends `s` as a JSON string literal (quotes included), ASCII only.
void write_string(std::string& out, std::string_view s);

// Python's repr() of a float: shortest round-trip digits, "1.0", "1e+16",
// "1e-05", "-0.0"; a NaN or an infinity gives "nan", "inf" or "-inf".
std::string float_repr(double v);

// A float as JSON text: float_repr, or NaN / Infinity / -Infinity.
std::string float_json(double v);

}  // namespace vorlane::json
