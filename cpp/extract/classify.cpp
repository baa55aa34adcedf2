#include "extract/classify.hpp"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <unordered_map>

#include "extract/errors.hpp"
#include "extract/extract.hpp"
#include "extract/http_post.hpp"
#include "json/json_read.hpp"
#include "json/json_text.hpp"
#include "text/pattern.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract {

using ojson = json::ordered;
using Kind = ReplyError::Kind;

// ---------------------------------------------------------------------------
// Settings

ModelSettings settings_from_env() {
  ModelSettings s;
  if (const char* v = std::getenv("VESKARD_LLM_URL")) s.url = v;
  if (const char* v = std::getenv("VESKARD_LLM_MODEL")) s.model = v;
  return s;
}

// ---------------------------------------------------------------------------
// Request

std::string numbered_lines(const std::vector<std::string>& units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (i) out.push_back('\n');
    out += std::to_string(i + 1);
    out += ". ";
    out += units[i];
  }
  return out;
}

std::string request_body(const std::vector<std::string>& units, std::string_view model) {
  using json::Value;
  Value message = Value::object();
  message.add("role", Value::string("user"));
  message.add("content", Value::string(std::string(CLASSIFY_PROMPT) + numbered_lines(units)));

  Value body = Value::object();
  body.add("model", Value::string(std::string(model)));
  body.add("temperature", Value::integer(0));
  body.add("seed", Value::integer(7));
  body.add("messages", Value::array()).push(std::move(message));
  body.add("response_format", Value::object()).add("type", Value::string("json_object"));
  body.add("chat_template_kwargs", Value::object()).add("enable_thinking", Value::boolean(false));
  return json::dumps(body);
}

namespace {

std::string type_name(const ojson& v) { return v.type_name(); }

}  // namespace

// ---------------------------------------------------------------------------
// Answer

std::string clean_answer(std::string_view answer) {
  // "```" with an optional "json" at any line start, "```" at any line end.
  static const Pattern fence("^```(?:json)?|```$", Pattern::MULTILINE);
  return fence.sub(uni::strip(answer), "");
}

namespace {

// Truth value of a JSON value as the host sees it: null, false, zero, the
// empty string, the empty list and the empty mapping are false.
bool truthy(const ojson& v) {
  switch (v.type()) {
    case ojson::value_t::null: return false;
    case ojson::value_t::boolean: return v.get<bool>();
    case ojson::value_t::number_integer: return v.get<std::int64_t>() != 0;
    case ojson::value_t::number_unsigned: return v.get<std::uint64_t>() != 0;
    case ojson::value_t::number_float: return v.get<double>() != 0.0;
    case ojson::value_t::string: return !v.get_ref<const std::string&>().empty();
    case ojson::value_t::array:
    case ojson::value_t::object: return !v.empty();
    case ojson::value_t::binary: return !v.get_binary().empty();
    default: return true;
  }
}

std::string unit_label(std::size_t i) { return "\"" + std::to_string(i + 1) + "\""; }

bool known_kind(const std::string& k) {
  for (std::string_view x : KINDS)
    if (x == k) return true;
  return false;
}

}  // namespace

namespace {

// The Unit position (from 0) a member name stands for: "1" for the first of
// `count` Units, and so on, written exactly as std::to_string writes it (no
// sign, no leading zero); -1 for any other name.
std::ptrdiff_t unit_position(std::string_view name, std::size_t count) {
  if (name.empty() || name.size() > 19 || name[0] == '0') return -1;
  std::size_t v = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + static_cast<std::size_t>(c - '0');
  }
  return v >= 1 && v <= count ? static_cast<std::ptrdiff_t>(v - 1) : -1;
}

// Keeps of a model answer only what the merge reads: "units", its members
// named by a Unit position, their "kind" and "targets", the strings of a
// list of targets and the names of a mapping of targets; and, for the
// errors, the types along the way and whether a list entry is empty.
// Leaving the rest out changes no result: a kind that is not a string and a
// target that is not a string count for nothing, and an object entry
// without "kind" and "targets" acts like an empty one.
json::ReadFilter answer_parts(std::size_t count) {
  return [count](const std::vector<json::ReadStep>& path, ojson::value_t type) {
    using json::ReadTake;
    const json::ReadStep& s = path.back();
    switch (path.size()) {
      case 1: return s.member && s.name == "units" ? ReadTake::Keep : ReadTake::Drop;
      case 2: return s.member && unit_position(s.name, count) >= 0 ? ReadTake::Keep : ReadTake::Drop;
      case 3:
        if (!s.member) return s.index == 0 ? ReadTake::Stub : ReadTake::Drop;
        return s.name == "kind" || s.name == "targets" ? ReadTake::Keep : ReadTake::Drop;
      case 4:
        if (!path[2].member || path[2].name != "targets") return ReadTake::Drop;
        if (s.member) return ReadTake::Stub;
        return type == ojson::value_t::string ? ReadTake::Keep : ReadTake::Drop;
      default: return ReadTake::Drop;
    }
  };
}

}  // namespace

std::vector<UnitRecord> merge_answer(const std::vector<std::string>& units, std::string_view answer,
                                     const InterruptCheck& interrupted) {
  InterruptPoll poll(interrupted);
  std::optional<ojson> parsed;
  {
    InterruptPoll parse_poll(interrupted, 1);
    parsed = json::read_ordered(clean_answer(answer), nullptr, [&parse_poll] { parse_poll.tick(); },
                                answer_parts(units.size()));
  }

  // The answers mapping: the "units" member of the answer; absent when the
  // answer is not JSON or has no "units".
  const ojson* answers = nullptr;
  if (parsed) {
    if (!parsed->is_object())
      throw ReplyError(Kind::Type, "model answer must be a JSON object, got " + type_name(*parsed));
    auto it = parsed->find("units");
    if (it != parsed->end()) answers = &*it;
  }

  // Each Unit's member of the answers mapping, found in one walk over its
  // members (names are unique once parsed), so that the time does not
  // depend on how many other members it has.
  std::vector<const ojson*> member_of(units.size(), nullptr);
  if (answers && !units.empty()) {
    if (!answers->is_object())
      throw ReplyError(Kind::Type, "model answer: \"units\" must be an object, got " + type_name(*answers));
    for (auto m = answers->begin(); m != answers->end(); ++m) {
      poll.tick();
      std::ptrdiff_t pos = unit_position(m.key(), units.size());
      if (pos >= 0) member_of[static_cast<std::size_t>(pos)] = &m.value();
    }
  }

  std::vector<UnitRecord> out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    poll.tick();
    const std::string& u = units[i];

    const ojson* entry = member_of[i] && truthy(*member_of[i]) ? member_of[i] : nullptr;
    if (entry && !entry->is_object())
      throw ReplyError(Kind::Type, "model answer: units[" + unit_label(i) + "] must be an object, got " +
                                       type_name(*entry));

    UnitRecord rec;
    if (std::optional<std::string_view> sk = strong_kind(u)) {
      rec.kind = std::string(*sk);
    } else {
      const ojson* k = nullptr;
      if (entry) {
        auto it = entry->find("kind");
        if (it != entry->end()) k = &*it;
      }
      if (k && k->is_string() && known_kind(k->get_ref<const std::string&>()))
        rec.kind = k->get<std::string>();
      else
        rec.kind = std::string(heuristic_kind(u));
    }

    if (entry) {
      auto it = entry->find("targets");
      if (it != entry->end() && truthy(*it)) {
        const ojson& targets = *it;
        const std::string unit_lower = uni::lower(u);
        auto consider = [&](std::string_view t) {
          poll.tick();
          std::string_view core = uni::strip(t);
          if (core.empty()) return;
          if (unit_lower.find(uni::lower(core)) != std::string::npos) rec.model_targets.emplace_back(t);
        };
        if (targets.is_array()) {
          for (const ojson& t : targets)
            if (t.is_string()) consider(t.get_ref<const std::string&>());
        } else if (targets.is_object()) {
          for (auto m = targets.begin(); m != targets.end(); ++m) consider(m.key());
        } else if (targets.is_string()) {
          // A plain string is walked character by character; what was
          // found for a character holds for its repetitions.
          const std::string& s = targets.get_ref<const std::string&>();
          std::unordered_map<std::string_view, bool> seen;
          for (std::size_t k = 0; k < s.size();) {
            std::size_t n = utf8::seq_len(static_cast<unsigned char>(s[k]));
            std::string_view c = std::string_view(s).substr(k, n);
            k += n;
            auto [it, fresh] = seen.try_emplace(c, false);
            if (fresh) {
              const std::size_t before = rec.model_targets.size();
              consider(c);
              it->second = rec.model_targets.size() > before;
            } else {
              poll.tick();
              if (it->second) rec.model_targets.emplace_back(c);
            }
          }
        } else {
          throw ReplyError(Kind::Type, "model answer: \"targets\" of units[" + unit_label(i) +
                                           "] must be a list, got " + type_name(targets));
        }
      }
    }
    out.push_back(std::move(rec));
  }
  return out;
}

// ---------------------------------------------------------------------------
// The exchange

std::vector<UnitRecord> classify_units(const std::vector<std::string>& units,
                                       const ModelSettings& settings) {
  std::string answer;
  {
    const std::string body = request_body(units, settings.model);
    const HttpLimits limits{settings.timeout_s, settings.deadline_s, settings.max_reply_bytes};
    HttpReply reply = http_post_json(settings.url, body, limits, settings.interrupted);
    answer = answer_of(reply.body, settings.interrupted);
  }  // the reply body is freed before the answer is parsed
  return merge_answer(units, answer, settings.interrupted);
}

}  // namespace vorlane::extract
