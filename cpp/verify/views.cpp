#include "verify/views.hpp"

#include "text/unicode.hpp"

namespace vorlane::verify {

const LogText& require_text(const TextField& f, const char* what, const RunLog& log) {
  log.faults.check(f.fault);
  switch (f.value.kind) {
    case TextValue::Kind::Text: return *f.value.text;
    case TextValue::Kind::Null: throw Error::type(std::string("expected str for '") + what + "', got None");
    default: log.faults.raise(f.value.type_fault);
  }
}

bool is_read(const Event& e, const RunLog& log) {
  log.faults.check(e.tool_fault);
  switch (e.tool) {
    case Event::Tool::ReadTool:
      return true;
    case Event::Tool::Terminal:
      return require_text(e.command, "command", log).test(LogText::Test::TerminalRead);
    case Event::Tool::ExecuteCode: {
      const LogText& code = require_text(e.command, "command", log);
      return code.test(LogText::Test::ReadCode) && !code.test(LogText::Test::ShellWrite);
    }
    default:
      return false;
  }
}

Views build_views(const RunLog& log) {
  const Faults& f = log.faults;
  Views v;
  f.check(log.events.read_fault);
  f.check(log.events.iter_fault);
  const auto& events = log.events.items();
  for (const Event& e : events) {
    f.check(e.wrote_fault);
    if (e.wrote) {
      f.check(e.payload.fault);
      v.writes.push(e.payload.value);
    }
  }
  for (const Event& e : events) {
    if (is_read(e, log)) {
      f.check(e.output.fault);
      v.read_outs.push(e.output.value);
    }
  }
  for (const Event& e : events) {
    f.check(e.output.fault);
    v.all_outs.push(e.output.value);
  }
  f.check(log.external.read_fault);
  f.check(log.external.iter_fault);
  for (const External& x : log.external.items()) {
    f.check(x.fault);
    auto t = std::make_shared<const LogText>(json::dumps(x.args), log.home);
    TextValue tv;
    tv.kind = TextValue::Kind::Text;
    tv.text = t.get();
    v.owned.push_back(std::move(t));
    v.ext_args.push(tv);
  }
  return v;
}

bool succeeded(const Command& c, const RunLog& log) {
  log.faults.check(c.exit_fault);
  return c.success;
}

const std::vector<Command>& commands(const RunLog& log) {
  log.faults.check(log.commands.read_fault);
  log.faults.check(log.commands.iter_fault);
  return log.commands.items();
}

TextList ok_command_texts(const RunLog& log) {
  TextList out;
  for (const Command& c : commands(log)) {
    if (succeeded(c, log)) {
      log.faults.check(c.command.fault);
      out.push(c.command.value);
    }
  }
  return out;
}

bool empty_search(const RunLog& log) {
  for (const Command& c : commands(log)) {
    if (!require_text(c.command, "command", log).test(LogText::Test::SearchTool)) continue;
    if (uni::is_blank(require_text(c.output, "output", log).raw())) return true;
  }
  return false;
}

}  // namespace vorlane::verify
