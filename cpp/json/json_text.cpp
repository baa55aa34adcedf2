#include "json/json_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "text/utf8.hpp"

namespace vorlane::json {

// ---------------------------------------------------------------------------
// Value: copy and destruction without recursion

namespace {

// Moves the children of `v` onto `stack`, leaving `v` a leaf.
void detach_children(Value& v, std::vector<Value>& stack) {
  for (Value& c : v.items) {
    if (!c.items.empty() || !c.members.empty()) stack.push_back(std::move(c));
  }
  v.items.clear();
  for (auto& m : v.members) {
    if (!m.second.items.empty() || !m.second.members.empty()) stack.push_back(std::move(m.second));
  }
  v.members.clear();
}

void copy_scalars(Value& dst, const Value& src) {
  dst.type = src.type;
  dst.b = src.b;
  dst.f = src.f;
  dst.s = src.s;
}

// Deep copy of `src` into the (leaf) `dst`, breadth by breadth on a heap
// stack.  Child vectors are sized before any pointer into them is taken, so
// the pointers stay valid.
void deep_copy(Value& dst, const Value& src) {
  std::vector<std::pair<Value*, const Value*>> work;
  work.emplace_back(&dst, &src);
  while (!work.empty()) {
    auto [d, s] = work.back();
    work.pop_back();
    copy_scalars(*d, *s);
    d->items.clear();
    d->members.clear();
    d->items.resize(s->items.size());
    d->members.reserve(s->members.size());
    for (const auto& m : s->members) d->members.emplace_back(m.first, Value{});
    for (std::size_t i = 0; i < s->items.size(); ++i) work.emplace_back(&d->items[i], &s->items[i]);
    for (std::size_t i = 0; i < s->members.size(); ++i)
      work.emplace_back(&d->members[i].second, &s->members[i].second);
  }
}

}  // namespace

Value::~Value() {
  if (items.empty() && members.empty()) return;
  std::vector<Value> stack;
  detach_children(*this, stack);
  while (!stack.empty()) {
    Value v = std::move(stack.back());
    stack.pop_back();
    detach_children(v, stack);
    // `v` is now a leaf; its destructor returns at once.
  }
}

Value::Value(const Value& other) { deep_copy(*this, other); }

Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value tmp(other);
    *this = std::move(tmp);
  }
  return *this;
}

// ---------------------------------------------------------------------------
// Strings

namespace {

constexpr char HEX[] = "0123456789abcdef";

void put_u16(std::string& out, unsigned u) {
  char buf[6] = {'\\', 'u', HEX[(u >> 12) & 0xF], HEX[(u >> 8) & 0xF], HEX[(u >> 4) & 0xF], HEX[u & 0xF]};
  out.append(buf, 6);
}

}  // namespace

void write_string(std::string& out, std::string_view s) {
  out.push_back('"');
  std::size_t i = 0;
  while (i < s.size()) {
    // Copy runs of plain printable ASCII in one go.
    std::size_t j = i;
    while (j < s.size()) {
      unsigned char c = static_cast<unsigned char>(s[j]);
      if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') break;
      ++j;
    }
    out.append(s.data() + i, j - i);
    i = j;
    if (i >= s.size()) break;
    // Lone surrogates (ED A0..BF xx) come out as U+D800..U+DFFF; a malformed
    // byte, which host strings never produce, reads as U+FFFD.
    char32_t cp = utf8::decode(s, i);
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (cp >= 0x10000) {
          char32_t v = cp - 0x10000;
          put_u16(out, 0xD800 + static_cast<unsigned>(v >> 10));
          put_u16(out, 0xDC00 + static_cast<unsigned>(v & 0x3FF));
        } else {
          put_u16(out, static_cast<unsigned>(cp));
        }
    }
  }
  out.push_back('"');
}

// ---------------------------------------------------------------------------
// Floats

std::string float_repr(double v) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  // Shortest round-trip digits in scientific form: "-d.ddde+XX".
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  bool neg = false;
  if (!sci.empty() && sci.front() == '-') { neg = true; sci.remove_prefix(1); }
  std::size_t epos = sci.find('e');
  std::string_view mant = sci.substr(0, epos);
  int exp = std::atoi(std::string(sci.substr(epos + 1)).c_str());
  std::string digits;
  for (char c : mant) if (c != '.') digits.push_back(c);
  // The value is 0.d1d2d3... * 10**decpt.
  int decpt = exp + 1;
  int nd = static_cast<int>(digits.size());

  std::string out;
  if (neg) out.push_back('-');
  if (decpt <= -4 || decpt > 16) {
    // Scientific: d[.ddd]e[+-]XX with at least two exponent digits.
    out.push_back(digits[0]);
    if (nd > 1) {
      out.push_back('.');
      out.append(digits, 1, std::string::npos);
    }
    out.push_back('e');
    int e = decpt - 1;
    out.push_back(e < 0 ? '-' : '+');
    int ae = e < 0 ? -e : e;
    if (ae < 10) out.push_back('0');
    out += std::to_string(ae);
  } else if (decpt <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-decpt), '0');
    out += digits;
  } else if (decpt >= nd) {
    out += digits;
    out.append(static_cast<std::size_t>(decpt - nd), '0');
    out += ".0";
  } else {
    out.append(digits, 0, static_cast<std::size_t>(decpt));
    out.push_back('.');
    out.append(digits, static_cast<std::size_t>(decpt), std::string::npos);
  }
  return out;
}

std::string float_json(double v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
  return float_repr(v);
}

// ---------------------------------------------------------------------------
// Writer

namespace {

void write_scalar(std::string& out, const Value& v) {
  switch (v.type) {
    case Value::Type::Null: out += "null"; break;
    case Value::Type::Bool: out += v.b ? "true" : "false"; break;
    case Value::Type::Int: out += v.s; break;
    case Value::Type::Float: out += float_json(v.f); break;
    case Value::Type::String: write_string(out, v.s); break;
    default: break;
  }
}

}  // namespace

void write(std::string& out, const Value& root) {
  // One frame per open array or object: the container and the index of the
  // next child to write.
  struct Frame {
    const Value* v;
    std::size_t next;
  };
  std::vector<Frame> stack;

  // Writes `v`, or opens it when it is a non-empty container.
  auto start = [&](const Value& v) {
    if (v.type == Value::Type::Array) {
      if (v.items.empty()) { out += "[]"; return; }
      out.push_back('[');
      stack.push_back({&v, 0});
    } else if (v.type == Value::Type::Object) {
      if (v.members.empty()) { out += "{}"; return; }
      out.push_back('{');
      stack.push_back({&v, 0});
    } else {
      write_scalar(out, v);
    }
  };

  start(root);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const Value& c = *f.v;
    if (c.type == Value::Type::Array) {
      if (f.next == c.items.size()) {
        out.push_back(']');
        stack.pop_back();
        continue;
      }
      if (f.next > 0) out += ", ";
      const Value& child = c.items[f.next++];
      start(child);  // may invalidate `f`
    } else {
      if (f.next == c.members.size()) {
        out.push_back('}');
        stack.pop_back();
        continue;
      }
      if (f.next > 0) out += ", ";
      const auto& m = c.members[f.next++];
      write_string(out, m.first);
      out += ": ";
      start(m.second);  // may invalidate `f`
    }
  }
}

}  // namespace vorlane::json
