#include "json/json_read.hpp"

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "text/seeded_hash.hpp"

namespace vorlane::json {

namespace {

using Members = ordered::object_t::Container;  // the vector under ordered_map

std::uint64_t hash_name(std::string_view s) { return seeded_hash(s); }

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

using Type = ordered::value_t;

// Builds the value from nlohmann's parse events, as its own DOM builder
// does, but finds repeated names through a NameTable, and leaves out what
// the filter does not want.
class Builder {
 public:
  Builder(ordered& root, const std::function<void()>& tick, const ReadFilter& filter)
      : root_(root), tick_(tick), filter_(filter) {}

  bool null() { return scalar(Type::null, nullptr); }
  bool boolean(bool v) { return scalar(Type::boolean, v); }
  bool number_integer(ordered::number_integer_t v) { return scalar(Type::number_integer, v); }
  bool number_unsigned(ordered::number_unsigned_t v) { return scalar(Type::number_unsigned, v); }
  bool number_float(ordered::number_float_t v, const std::string&) { return scalar(Type::number_float, v); }
  bool string(std::string& v) { return scalar(Type::string, std::move(v)); }
  bool binary(ordered::binary_t& v) { return scalar(Type::binary, std::move(v)); }

  bool start_object(std::size_t) { return open(Type::object); }
  bool start_array(std::size_t) { return open(Type::array); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(std::string& name) {
    event();
    if (skipping_ == 0) pending_ = std::move(name);
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
    ordered* value;         // the open array or object
    std::size_t items = 0;  // array items met so far, left out ones included
    NameTable names;        // objects of more than SCAN_MAX members
  };

  void event() {
    if (tick_ && ++events_ % READ_TICK_EVERY == 0) tick_();
  }

  // The step from the innermost open container to the value met now
  // (array items are counted here, left-out ones included).
  ReadStep next_step() {
    Frame& f = stack_.back();
    if (f.value->is_array()) return ReadStep{false, {}, f.items++};
    return ReadStep{true, pending_, 0};
  }

  // What the filter says about a value of type `type` reached by `step`.
  ReadTake decide(const ReadStep& step, Type type) {
    if (!filter_) return ReadTake::Keep;
    path_.push_back(step);
    ReadTake take = filter_(path_, type);
    path_.pop_back();
    return take;
  }

  template <class V>
  bool scalar(Type type, V&& v) {
    event();
    if (skipping_ > 0) return true;
    ReadTake take = stack_.empty() ? ReadTake::Keep : decide(next_step(), type);
    if (take == ReadTake::Keep) put(std::forward<V>(v));
    else if (take == ReadTake::Stub) put(nullptr);
    return true;
  }

  bool open(Type type) {
    event();
    if (skipping_ > 0) {
      ++skipping_;
      return true;
    }
    if (stack_.empty()) {
      stack_.push_back(Frame{put(type), 0, {}});
      return true;
    }
    ReadStep step = next_step();
    ReadTake take = decide(step, type);
    if (take != ReadTake::Keep) {
      if (take == ReadTake::Stub) put(nullptr);
      skipping_ = 1;
      return true;
    }
    ordered* v = put(type);
    if (step.member) step.name = key_of_element_;
    path_.push_back(step);
    stack_.push_back(Frame{v, 0, {}});
    return true;
  }

  bool close() {
    event();
    if (skipping_ > 0) {
      --skipping_;
      return true;
    }
    stack_.pop_back();
    if (!stack_.empty()) path_.pop_back();
    return true;
  }

  // The member named `pending_` of the innermost object, added when new;
  // sets element_ and key_of_element_.
  void member() {
    Frame& f = stack_.back();
    Members& members = f.value->get_ref<ordered::object_t&>();
    auto name_at = [&](std::size_t p) -> std::string_view { return members[p].first; };

    std::ptrdiff_t found = -1;
    std::uint64_t h = 0;
    if (f.names.empty()) {
      for (std::size_t p = 0; p < members.size(); ++p)
        if (members[p].first == pending_) {
          found = static_cast<std::ptrdiff_t>(p);
          break;
        }
    } else {
      h = hash_name(pending_);
      found = f.names.find(pending_, h, name_at);
    }
    if (found < 0) {
      members.emplace_back(std::move(pending_), nullptr);
      found = static_cast<std::ptrdiff_t>(members.size() - 1);
      if (!f.names.empty()) {
        f.names.insert(members.size() - 1, h);
      } else if (members.size() > SCAN_MAX) {
        for (std::size_t p = 0; p < members.size(); ++p) f.names.insert(p, hash_name(members[p].first));
      }
    }
    element_ = &members[static_cast<std::size_t>(found)].second;
    key_of_element_ = members[static_cast<std::size_t>(found)].first;
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
    member();
    *element_ = ordered(std::forward<V>(v));
    return element_;
  }

  ordered& root_;
  const std::function<void()>& tick_;
  const ReadFilter& filter_;
  std::vector<Frame> stack_;
  std::vector<ReadStep> path_;  // from the root to the innermost open container
  std::string pending_;         // name of the member whose value comes next
  ordered* element_ = nullptr;
  std::string_view key_of_element_;
  std::size_t skipping_ = 0;    // depth inside a left-out container
  std::size_t events_ = 0;
  std::string error_;
};

}  // namespace

std::optional<ordered> read_ordered(std::string_view text, std::string* error,
                                    const std::function<void()>& tick, const ReadFilter& filter) {
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
  Builder b(root, tick, filter);
  bool ok = ordered::sax_parse(text, &b, nlohmann::detail::input_format_t::json, true);
  if (!ok) {
    if (error) *error = b.error();
    return std::nullopt;
  }
  return root;
}

}  // namespace vorlane::json
