// The run log of one agent turn, as the verdict rules see it.
//
// The host converts its run-log mapping into this structure before the rules
// run (so that the rules can run without the host's lock).  Reading the
// host's values can fail: a key is missing, a value has the wrong type, a
// lookup or a comparison raises.  Such a failure is not raised while
// converting; it is recorded as a fault at the place where it happened and
// raised by the rules at the moment they first read that value, so a run log
// fails exactly where, and only if, the rules would have tripped over it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "json/json_text.hpp"
#include "verify/errors.hpp"
#include "verify/log_text.hpp"

namespace vorlane::verify {

// Recorded failures, raised by index.  -1 means "no fault".
class Faults {
 public:
  int32_t add(Error e) {
    list_.push_back(std::move(e));
    return static_cast<int32_t>(list_.size() - 1);
  }
  [[noreturn]] void raise(int32_t i) const { throw list_.at(static_cast<std::size_t>(i)); }
  void check(int32_t i) const {
    if (i >= 0) raise(i);
  }
  std::size_t size() const { return list_.size(); }

 private:
  std::vector<Error> list_;
};

// A value that the rules read as a text: a text (possibly empty), a null, or
// anything else (which fails, with `type_fault`, once it is used as a text).
struct TextValue {
  enum class Kind : uint8_t { Text, Null, Other };
  Kind kind = Kind::Null;
  int32_t type_fault = -1;
  const LogText* text = nullptr;  // Kind::Text

  bool is_text() const { return kind == Kind::Text; }
  // Empty and null texts are skipped by the matchers.
  bool skipped() const { return kind == Kind::Null || (kind == Kind::Text && text->empty()); }
};

// One key read from one mapping: `fault` >= 0 when the read failed.
struct TextField {
  int32_t fault = -1;
  TextValue value;
};

struct Event {
  enum class Tool : uint8_t { ReadTool, Terminal, ExecuteCode, Other };
  int32_t tool_fault = -1;  // reading "tool" or looking it up among the read tools failed
  Tool tool = Tool::Other;
  int32_t wrote_fault = -1;  // reading "wrote" or taking its truth value failed
  bool wrote = false;
  TextField payload;  // meaningful when `wrote`
  TextField command;  // meaningful for Terminal and ExecuteCode
  TextField output;
};

struct External {
  int32_t fault = -1;  // reading "args" failed, or it has no JSON text
  json::Value args;
};

struct Command {
  TextField command;
  int32_t exit_fault = -1;  // reading "exit_code" or comparing it failed
  bool success = false;
  // The text form of a failed exit code (for the failure note).
  int32_t exit_text_fault = -1;
  std::string exit_text;
  TextField output;
};

// One of the four lists of the log: `read_fault` when the key is missing,
// `iter_fault` when its value cannot be traversed.  The items are held here
// (`own`) or, when the host reuses a conversion made for an earlier call,
// elsewhere (`shared`, which the host keeps alive for the call).
template <class T>
struct LogList {
  int32_t read_fault = -1;
  int32_t iter_fault = -1;
  std::vector<T> own;
  const std::vector<T>* shared = nullptr;

  const std::vector<T>& items() const { return shared ? *shared : own; }
};

struct RunLog {
  LogList<Event> events;
  LogList<External> external;
  LogList<TextValue> written;
  LogList<Command> commands;

  // The home directory that "~" stands for, or the failure to find it
  // (raised at the first normalisation).
  int32_t home_fault = -1;
  std::shared_ptr<const std::string> home;

  Faults faults;
  // Owners of every LogText referenced above.
  std::vector<std::shared_ptr<const LogText>> texts;

  // Registers a text and returns the value that refers to it.
  TextValue text(std::shared_ptr<const LogText> t) {
    TextValue v;
    v.kind = TextValue::Kind::Text;
    v.text = t.get();
    texts.push_back(std::move(t));
    return v;
  }
};

}  // namespace vorlane::verify
