#include "json/json_read.hpp"

#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace vorlane::json {

namespace {

using Members = ordered::object_t::Container;  // the vector under ordered_map

// A hash of member names keyed by a per-process random seed, so that a
// sender cannot prepare names that all land in the same slot.
std::uint64_t seed() {
  static const std::uint64_t s = [] {
    std::random_device rd;
    return (std::uint64_t(rd()) << 32) ^ rd() ^ 0x9E3779B97F4A7C15ull;
  }();
  return s;
}

inline std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

std::uint64_t hash_name(std::string_view s) {
  std::uint64_t h = seed() ^ (s.size() * 0x9E3779B97F4A7C15ull);
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    h = mix(h ^ w);
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, s.data() + i, s.size() - i);
  return mix(h ^ tail ^ 0x5BD1E995ull);
}

// Open addressing over positions in a member vector; the vector holds the
// names, the table only positions and hashes.
class NameTable {
 public:
  bool empty() const { return slots_.empty(); }

  // Position of `name`, or -1.
  template <class NameAt>
  std::ptrdiff_t find(std::string_view name, std::uint64_t h, NameAt name_at) const {
    if (slots_.empty()) return -1;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t k = h & mask;; k = (k + 1) & mask) {
      const Slot& s = slots_[k];
      if (s.pos == 0) return -1;
      if (s.hash == h && name_at(s.pos - 1) == name) return static_cast<std::ptrdiff_t>(s.pos - 1);
    }
  }

  // Adds position `pos` (whose name is not in the table yet).
  void insert(std::size_t pos, std::uint64_t h) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    place(Slot{pos + 1, h});
    ++count_;
  }

 private:
  struct Slot {
    std::size_t pos;  // position + 1; 0: empty
    std::uint64_t hash;
  };

  void place(Slot s) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t k = s.hash & mask;
    while (slots_[k].pos != 0) k = (k + 1) & mask;
    slots_[k] = s;
  }

  void grow() {
    std::vector<Slot> old(std::max<std::size_t>(32, slots_.size() * 2), Slot{0, 0});
    old.swap(slots_);
    for (const Slot& s : old)
      if (s.pos != 0) place(s);
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

// Objects up to this many members are searched by a scan.
constexpr std::size_t SCAN_MAX = 8;

// Builds the value from nlohmann's parse events, as its own DOM builder
// does, but finds repeated names through a NameTable.
class Builder {
 public:
  Builder(ordered& root, const std::function<void()>& tick) : root_(root), tick_(tick) {}

  bool null() { return value(nullptr); }
  bool boolean(bool v) { return value(v); }
  bool number_integer(ordered::number_integer_t v) { return value(v); }
  bool number_unsigned(ordered::number_unsigned_t v) { return value(v); }
  bool number_float(ordered::number_float_t v, const std::string&) { return value(v); }
  bool string(std::string& v) { return value(std::move(v)); }
  bool binary(ordered::binary_t& v) { return value(std::move(v)); }

  bool start_object(std::size_t) {
    event();
    stack_.push_back(Frame{put(ordered::value_t::object), {}});
    return true;
  }
  bool end_object() {
    event();
    stack_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    event();
    stack_.push_back(Frame{put(ordered::value_t::array), {}});
    return true;
  }
  bool end_array() {
    event();
    stack_.pop_back();
    return true;
  }

  bool key(std::string& name) {
    event();
    Frame& f = stack_.back();
    Members& members = f.value->get_ref<ordered::object_t&>();
    auto name_at = [&](std::size_t p) -> std::string_view { return members[p].first; };

    std::ptrdiff_t found = -1;
    std::uint64_t h = 0;
    if (f.names.empty()) {
      for (std::size_t p = 0; p < members.size(); ++p)
        if (members[p].first == name) {
          found = static_cast<std::ptrdiff_t>(p);
          break;
        }
    } else {
      h = hash_name(name);
      found = f.names.find(name, h, name_at);
    }
    if (found >= 0) {
      element_ = &members[static_cast<std::size_t>(found)].second;
      return true;
    }

    members.emplace_back(std::move(name), nullptr);
    element_ = &members.back().second;
    if (!f.names.empty()) {
      f.names.insert(members.size() - 1, h);
    } else if (members.size() > SCAN_MAX) {
      for (std::size_t p = 0; p < members.size(); ++p) f.names.insert(p, hash_name(members[p].first));
    }
    return true;
  }

  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& e) {
    error_ = e.what();
    return false;
  }

  const std::string& error() const { return error_; }

 private:
  struct Frame {
    ordered* value;  // the open array or object
    NameTable names;  // objects of more than SCAN_MAX members
  };

  void event() {
    if (tick_ && ++events_ % READ_TICK_EVERY == 0) tick_();
  }

  template <class V>
  bool value(V&& v) {
    event();
    put(std::forward<V>(v));
    return true;
  }

  // Stores a new value where the parse stands and returns it.  Pointers on
  // the stack stay valid: a container only grows while it is the innermost
  // open one, and then no pointer into it is held.
  template <class V>
  ordered* put(V&& v) {
    if (stack_.empty()) {
      root_ = ordered(std::forward<V>(v));
      return &root_;
    }
    ordered* top = stack_.back().value;
    if (top->is_array()) {
      auto& items = top->get_ref<ordered::array_t&>();
      items.emplace_back(std::forward<V>(v));
      return &items.back();
    }
    *element_ = ordered(std::forward<V>(v));
    return element_;
  }

  ordered& root_;
  const std::function<void()>& tick_;
  std::vector<Frame> stack_;
  ordered* element_ = nullptr;
  std::size_t events_ = 0;
  std::string error_;
};

}  // namespace

std::optional<ordered> read_ordered(std::string_view text, std::string* error,
                                    const std::function<void()>& tick) {
  // The parser would skip a byte-order mark at the start.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    if (error) *error = "unexpected byte-order mark at the start of the JSON text";
    return std::nullopt;
  }
  // The parser stops at a NUL byte as if the input ended there, which would
  // accept a valid prefix followed by anything.  A raw NUL is never valid
  // JSON (inside a string it must be escaped), so refuse it outright.
  if (std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    if (error) *error = "NUL character at byte " + std::to_string(nul) + " is not valid JSON";
    return std::nullopt;
  }
  ordered root;
  Builder b(root, tick);
  bool ok = ordered::sax_parse(text, &b, nlohmann::detail::input_format_t::json, true);
  if (!ok) {
    if (error) *error = b.error();
    return std::nullopt;
  }
  return root;
}

}  // namespace vorlane::json
