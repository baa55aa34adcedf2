// Fuzz target: the JSON text writer of external-action arguments.
//
// The fuzz bytes are a small program that builds a json::Value (scalars,
// strings with any code point including lone surrogates, floats from raw bit
// patterns, NaN and infinities, arrays and objects nested to any depth,
// duplicate keys).  The written text must be pure printable ASCII with the
// ", " and ": " separators, and read back with nlohmann's parser to the same
// value, event by event: NaN / Infinity / -Infinity and lone surrogate
// escapes, which JSON parsers refuse, are checked where they stand and then
// replaced by stand-ins before parsing.  A deep copy writes the same text.
// The linear reader (json_read) gives the same ordered value as nlohmann's
// own ordered parser on that text, repeated names included.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common.hpp"
#include "json/json_read.hpp"
#include "json/json_text.hpp"

using vorlane::json::Value;
namespace json = vorlane::json;

namespace {

// The text of a parsed value (strings as parsed: valid UTF-8).
std::string dump(const vorlane::json::ordered& v) {
  return v.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
}

// One parse event, as nlohmann's SAX interface reports it (and as the value
// tree predicts it).
struct Event {
  enum Kind { Null, Bool, Int, Uint, Float, String, Key, StartArray, EndArray, StartObject, EndObject } kind;
  std::string s;  // String / Key: UTF-8; Int/Uint: decimal text
  double f = 0;
  bool b = false;
  bool operator==(const Event& o) const {
    if (kind != o.kind) return false;
    switch (kind) {
      case Bool: return b == o.b;
      case Int: case Uint: case String: case Key: return s == o.s;
      case Float: return std::memcmp(&f, &o.f, sizeof f) == 0;
      default: return true;
    }
  }
};

// Stand-ins for what JSON cannot carry.
constexpr const char* kNaN = "\xEE\x80\x80NaN";
constexpr const char* kInf = "\xEE\x80\x80Infinity";
constexpr const char* kNegInf = "\xEE\x80\x80-Infinity";
constexpr char32_t kLoneStandIn = 0xE001;

// A text as it reads back: surrogate pairs written as two escapes join into
// one code point; every other lone surrogate is recorded (in order) in
// `lone` and replaced by the stand-in.
std::string as_read(std::string_view s, std::vector<char32_t>& lone) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t j = i;
    char32_t c = vorlane::utf8::decode(s, j);
    if (c >= 0xD800 && c <= 0xDBFF && j < s.size()) {
      std::size_t k = j;
      char32_t d = vorlane::utf8::decode(s, k);
      if (d >= 0xDC00 && d <= 0xDFFF) {
        vorlane::utf8::append(out, 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00));
        i = k;
        continue;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) {
      lone.push_back(c);
      vorlane::utf8::append(out, kLoneStandIn);
    } else {
      out.append(s.substr(i, j - i));
    }
    i = j;
  }
  return out;
}

std::vector<Event> predict(const Value& root, std::vector<char32_t>& lone) {
  std::vector<Event> ev;
  struct Frame {
    const Value* v;
    std::size_t next;
  };
  std::vector<Frame> stack;
  auto scalar = [&](const Value& v) {
    switch (v.type) {
      case Value::Type::Null: ev.push_back({Event::Null}); break;
      case Value::Type::Bool: { Event e{Event::Bool}; e.b = v.b; ev.push_back(e); break; }
      case Value::Type::Int: {
        Event e{v.s[0] == '-' ? Event::Int : Event::Uint};
        e.s = v.s;
        ev.push_back(e);
        break;
      }
      case Value::Type::Float: {
        if (std::isnan(v.f) || std::isinf(v.f)) {
          Event e{Event::String};
          e.s = std::isnan(v.f) ? kNaN : v.f > 0 ? kInf : kNegInf;
          ev.push_back(e);
        } else {
          Event e{Event::Float};
          e.f = v.f;
          ev.push_back(e);
        }
        break;
      }
      case Value::Type::String: { Event e{Event::String}; e.s = as_read(v.s, lone); ev.push_back(e); break; }
      default: break;
    }
  };
  auto start = [&](const Value& v) {
    if (v.type == Value::Type::Array) { ev.push_back({Event::StartArray}); stack.push_back({&v, 0}); }
    else if (v.type == Value::Type::Object) { ev.push_back({Event::StartObject}); stack.push_back({&v, 0}); }
    else scalar(v);
  };
  start(root);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const Value* c = f.v;
    if (c->type == Value::Type::Array) {
      if (f.next == c->items.size()) { ev.push_back({Event::EndArray}); stack.pop_back(); continue; }
      start(c->items[f.next++]);
    } else {
      if (f.next == c->members.size()) { ev.push_back({Event::EndObject}); stack.pop_back(); continue; }
      const auto& m = c->members[f.next++];
      Event k{Event::Key};
      k.s = as_read(m.first, lone);
      ev.push_back(k);
      start(m.second);
    }
  }
  return ev;
}

struct Recorder : nlohmann::json_sax<nlohmann::json> {
  std::vector<Event> ev;
  std::string error;
  bool null() override { ev.push_back({Event::Null}); return true; }
  bool boolean(bool v) override { Event e{Event::Bool}; e.b = v; ev.push_back(e); return true; }
  bool number_integer(number_integer_t v) override { Event e{Event::Int}; e.s = std::to_string(v); ev.push_back(e); return true; }
  bool number_unsigned(number_unsigned_t v) override { Event e{Event::Uint}; e.s = std::to_string(v); ev.push_back(e); return true; }
  bool number_float(number_float_t v, const string_t&) override { Event e{Event::Float}; e.f = v; ev.push_back(e); return true; }
  bool string(string_t& v) override { Event e{Event::String}; e.s = v; ev.push_back(e); return true; }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { ev.push_back({Event::StartObject}); return true; }
  bool key(string_t& v) override { Event e{Event::Key}; e.s = v; ev.push_back(e); return true; }
  bool end_object() override { ev.push_back({Event::EndObject}); return true; }
  bool start_array(std::size_t) override { ev.push_back({Event::StartArray}); return true; }
  bool end_array() override { ev.push_back({Event::EndArray}); return true; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error = e.what();
    return false;
  }
};

void put_escape(std::string& out, char32_t u) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(u));
  out += buf;
}

// Checks the writer's text outside and inside strings and rewrites it for
// the parser: NaN / Infinity / -Infinity become stand-in strings, lone
// surrogate escapes become the stand-in escape (their code units are
// appended to `lone`).
std::string prepare(const std::string& t, std::vector<char32_t>& lone) {
  std::string out;
  std::size_t i = 0, n = t.size();
  auto hex4 = [&](std::size_t at) -> long {
    if (at + 6 > n || t[at] != '\\' || t[at + 1] != 'u') return -1;
    long v = 0;
    for (std::size_t k = at + 2; k < at + 6; ++k) {
      char c = t[k];
      int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
      FUZZ_CHECK(d >= 0, "escape not in lower-case hexadecimal: " + fuzz::show(t.substr(at, 6)));
      v = v * 16 + d;
    }
    return v;
  };
  while (i < n) {
    char c = t[i];
    FUZZ_CHECK(c >= 0x20 && c < 0x7F, "byte outside printable ASCII in JSON text: " + fuzz::show(t));
    if (c == '"') {
      out.push_back(c);
      ++i;
      while (i < n && t[i] != '"') {
        if (t[i] != '\\') {
          FUZZ_CHECK(t[i] >= 0x20 && t[i] < 0x7F, "raw control or non-ASCII byte inside a string");
          out.push_back(t[i++]);
          continue;
        }
        FUZZ_CHECK(i + 1 < n, "string ends in a backslash");
        if (t[i + 1] != 'u') {
          out.append(t, i, 2);
          i += 2;
          continue;
        }
        long u = hex4(i);
        FUZZ_CHECK(u >= 0, "short \\u escape");
        FUZZ_CHECK(u < 0x20 || u >= 0x7F, "printable ASCII escaped: " + fuzz::show(t.substr(i, 6)));
        if (u >= 0xD800 && u <= 0xDBFF) {
          long lo = hex4(i + 6);
          if (lo >= 0xDC00 && lo <= 0xDFFF) {
            out.append(t, i, 12);
            i += 12;
            continue;
          }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
          lone.push_back(static_cast<char32_t>(u));
          put_escape(out, kLoneStandIn);
        } else {
          out.append(t, i, 6);
        }
        i += 6;
      }
      FUZZ_CHECK(i < n, "unterminated string");
      out.push_back('"');
      ++i;
      continue;
    }
    if (c == ',' || c == ':') {
      FUZZ_CHECK(i + 1 < n && t[i + 1] == ' ', "separator without its space: " + fuzz::show(t.substr(i, 20)));
      out.push_back(c);
      out.push_back(' ');
      i += 2;
      continue;
    }
    FUZZ_CHECK(c != ' ' && c != '\n', "stray white space in JSON text: " + fuzz::show(t));
    auto word = [&](const char* w, const char* stand) {
      std::size_t len = std::strlen(w);
      if (t.compare(i, len, w) != 0) return false;
      out += '"';
      std::string st(stand);
      // The stand-in as a JSON string (its private-use character escaped).
      out += "\\ue000";
      out += st.substr(3);
      out += '"';
      i += len;
      return true;
    };
    if (word("NaN", kNaN) || word("-Infinity", kNegInf) || word("Infinity", kInf)) continue;
    out.push_back(c);
    ++i;
  }
  return out;
}

// Builds a value from the fuzz program.
Value build(FuzzedDataProvider& fdp) {
  Value root = Value::array();
  std::vector<Value*> stack{&root};
  std::vector<std::string> recent_keys{"k"};
  auto text = [&](std::size_t max) {
    std::string raw = fdp.ConsumeRandomLengthString(max);
    return fuzz::to_text(raw);
  };
  // Adds `v` to the innermost open container; returns where it went.
  auto add = [&](Value v) -> Value& {
    Value* top = stack.back();
    if (top->type == Value::Type::Array) return top->push(std::move(v));
    std::string key;
    uint8_t how = fdp.ConsumeIntegral<uint8_t>();
    if (how % 4 == 0 && !recent_keys.empty()) key = recent_keys[how % recent_keys.size()];  // duplicate key
    else key = text(24);
    recent_keys.push_back(key);
    return top->add(std::move(key), std::move(v));
  };
  int steps = 0;
  std::size_t deep_budget = 3000;  // containers of deep chains per input
  while (fdp.remaining_bytes() && steps++ < 2000) {
    switch (fdp.ConsumeIntegralInRange<int>(0, 13)) {
      case 0: add(Value::null()); break;
      case 1: add(Value::boolean(fdp.ConsumeBool())); break;
      case 2: add(Value::integer(fdp.ConsumeIntegral<int64_t>())); break;
      case 3: add(Value::integer(std::to_string(fdp.ConsumeIntegral<uint64_t>()))); break;
      case 4: {
        uint64_t bits = fdp.ConsumeIntegral<uint64_t>();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        add(Value::number(d));
        break;
      }
      case 5: {
        static const double special[] = {NAN, INFINITY, -INFINITY, -0.0, 0.0, 1e16, 1e-5, 1e-4, 0.1, 1e22,
                                         123456789012345680.0, 5e-324, 1.7976931348623157e308, -2.5};
        add(Value::number(special[fdp.ConsumeIntegralInRange<std::size_t>(0, 13)]));
        break;
      }
      case 6: case 7: add(Value::string(text(64))); break;
      case 8: { Value& a = add(Value::array()); stack.push_back(&a); break; }
      case 9: { Value& o = add(Value::object()); stack.push_back(&o); break; }
      case 10: case 11: if (stack.size() > 1) stack.pop_back(); break;
      case 12: {  // a deep chain of containers
        // Log-uniform depth: mostly shallow, now and then thousands deep.
        std::size_t depth = std::size_t(1) << fdp.ConsumeIntegralInRange<int>(0, 11);
        depth += fdp.ConsumeIntegral<uint8_t>();
        if (depth > deep_budget) depth = deep_budget ? deep_budget : 1;
        deep_budget -= depth - 1;
        bool objects = fdp.ConsumeBool();
        Value* v = &add(objects ? Value::object() : Value::array());
        for (std::size_t d = 1; d < depth; ++d)
          v = objects ? &v->add("d", Value::object()) : &v->push(Value::array());
        break;
      }
      default: {
        // A scalar root instead of the array.
        if (stack.size() == 1 && root.items.empty()) {
          Value s = Value::string(text(32));
          return s;
        }
        add(Value::string(text(8)));
      }
    }
  }
  if (root.items.size() == 1 && fdp.remaining_bytes() == 0) {
    Value only = std::move(root.items[0]);
    return only;
  }
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FuzzedDataProvider fdp(data, size);
  Value v = build(fdp);
  std::string text = json::dumps(v);

  Value copy = v;
  FUZZ_CHECK(json::dumps(copy) == text, "a deep copy writes a different text");

  std::vector<char32_t> lone_written, lone_expected;
  std::string parsable = prepare(text, lone_written);
  std::vector<Event> expected = predict(v, lone_expected);
  FUZZ_CHECK(lone_written == lone_expected, "lone surrogates written differently: " + fuzz::show(text));

  Recorder r;
  bool ok = nlohmann::json::sax_parse(parsable, &r, nlohmann::json::input_format_t::json, true);
  FUZZ_CHECK(ok, "written JSON does not parse: " + r.error + " in " + fuzz::show(text));
  FUZZ_CHECK(r.ev.size() == expected.size(), "parsed event count differs: " + fuzz::show(text));
  for (std::size_t i = 0; i < expected.size(); ++i) {
    FUZZ_CHECK(r.ev[i] == expected[i], "parsed value differs at event " + std::to_string(i) + ": " +
                                           fuzz::show(r.ev[i].s) + " vs " + fuzz::show(expected[i].s) + " in " +
                                           fuzz::show(text));
  }

  // Floats are compared by their text: NaN stand-ins never reach here, but
  // -0.0 and 0.0 would compare equal as values.
  std::optional<json::ordered> linear = json::read_ordered(parsable);
  FUZZ_CHECK(linear.has_value(), "linear reader refuses written JSON: " + fuzz::show(text));
  FUZZ_CHECK(dump(*linear) == dump(json::ordered::parse(parsable)),
             "linear reader differs from the ordered parser on " + fuzz::show(text));
  return 0;
}
