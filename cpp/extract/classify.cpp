#include "extract/classify.hpp"

#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>

#include "extract/errors.hpp"
#include "extract/extract.hpp"
#include "extract/http_post.hpp"
#include "json/json_text.hpp"
#include "text/pattern.hpp"
#include "text/unicode.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract {

using ojson = nlohmann::ordered_json;
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

// ---------------------------------------------------------------------------
// Reply body decoding

namespace {

constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

[[noreturn]] void bad_body(const std::string& why) {
  throw ReplyError(Kind::Value, "model reply body cannot be decoded: " + why);
}

// UTF-16 code units to UTF-8; unpaired surrogates are kept as three-byte
// sequences, as the host's "surrogatepass" decoding keeps them.
std::string from_utf16(std::string_view b, bool big_endian) {
  if (b.size() % 2) bad_body("truncated UTF-16 data");
  std::string out;
  out.reserve(b.size());
  auto unit = [&](std::size_t k) -> char32_t {
    auto x = static_cast<unsigned char>(b[k]), y = static_cast<unsigned char>(b[k + 1]);
    return big_endian ? (char32_t(x) << 8 | y) : (char32_t(y) << 8 | x);
  };
  for (std::size_t k = 0; k < b.size(); k += 2) {
    char32_t u = unit(k);
    if (u >= 0xD800 && u < 0xDC00 && k + 3 < b.size()) {
      char32_t lo = unit(k + 2);
      if (lo >= 0xDC00 && lo < 0xE000) {
        utf8::append(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        k += 2;
        continue;
      }
    }
    utf8::append(out, u);
  }
  return out;
}

std::string from_utf32(std::string_view b, bool big_endian) {
  if (b.size() % 4) bad_body("truncated UTF-32 data");
  std::string out;
  out.reserve(b.size());
  for (std::size_t k = 0; k < b.size(); k += 4) {
    char32_t c = 0;
    for (int j = 0; j < 4; ++j) {
      auto x = static_cast<unsigned char>(b[k + (big_endian ? j : 3 - j)]);
      c = (c << 8) | x;
    }
    if (c > 0x10FFFF) bad_body("UTF-32 code point out of range");
    utf8::append(out, c);
  }
  return out;
}

bool starts_with(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

}  // namespace

std::string decode_body(std::string_view b) {
  using namespace std::string_view_literals;
  std::string text;
  if (starts_with(b, "\x00\x00\xFE\xFF"sv)) {
    text = from_utf32(b.substr(4), true);
  } else if (starts_with(b, "\xFF\xFE\x00\x00"sv)) {
    text = from_utf32(b.substr(4), false);
  } else if (starts_with(b, "\xFE\xFF"sv)) {
    text = from_utf16(b.substr(2), true);
  } else if (starts_with(b, "\xFF\xFE"sv)) {
    text = from_utf16(b.substr(2), false);
  } else if (starts_with(b, UTF8_BOM)) {
    text = std::string(b.substr(3));
  } else if (b.size() >= 4 && b[0] == 0) {
    text = b[1] ? from_utf16(b, true) : from_utf32(b, true);
  } else if (b.size() >= 4 && b[1] == 0) {
    text = (b[2] || b[3]) ? from_utf16(b, false) : from_utf32(b, false);
  } else if (b.size() == 2 && b[0] == 0) {
    text = from_utf16(b, true);
  } else if (b.size() == 2 && b[1] == 0) {
    text = from_utf16(b, false);
  } else {
    // UTF-8 without a mark; the JSON parser checks the encoding.
    text = std::string(b);
  }
  return text;
}

// ---------------------------------------------------------------------------
// Reply envelope

namespace {

// Parses JSON text strictly: a byte-order mark is not skipped (the parser
// would otherwise accept one at the start).
std::optional<ojson> parse_json(const std::string& text, std::string* error) {
  if (starts_with(text, UTF8_BOM)) {
    if (error) *error = "unexpected byte-order mark at the start of the JSON text";
    return std::nullopt;
  }
  // The parser stops at a NUL byte as if the input ended there, which would
  // accept a valid prefix followed by anything.  A raw NUL is never valid
  // JSON (inside a string it must be escaped), so refuse it outright.
  if (std::size_t nul = text.find('\0'); nul != std::string::npos) {
    if (error) *error = "NUL character at byte " + std::to_string(nul) + " is not valid JSON";
    return std::nullopt;
  }
  try {
    return ojson::parse(text);
  } catch (const ojson::exception& e) {
    if (error) *error = e.what();
    return std::nullopt;
  }
}

std::string type_name(const ojson& v) { return v.type_name(); }

}  // namespace

std::string answer_of(std::string_view body) {
  std::string error;
  std::optional<ojson> reply = parse_json(decode_body(body), &error);
  if (!reply) throw ReplyError(Kind::Value, "model reply is not valid JSON: " + error);
  const ojson& root = *reply;

  if (!root.is_object())
    throw ReplyError(Kind::Type, "model reply must be a JSON object holding \"choices\", got " +
                                     type_name(root));
  ojson::const_iterator it = root.find("choices");
  if (it == root.end())
    throw ReplyError(Kind::Key, "model reply has no \"choices\"", "choices");

  const ojson& choices = *it;
  const ojson* first = nullptr;
  if (choices.is_array()) {
    if (choices.empty()) throw ReplyError(Kind::Index, "model reply: \"choices\" is empty");
    first = &choices[0];
  } else if (choices.is_object()) {
    // Indexing a mapping with 0 looks for a key 0, which no JSON object has.
    throw ReplyError(Kind::Key, "model reply: \"choices\" is an object without element 0", "0", true);
  } else if (choices.is_string() && choices.get_ref<const std::string&>().empty()) {
    throw ReplyError(Kind::Index, "model reply: \"choices\" is empty");
  } else {
    throw ReplyError(Kind::Type, "model reply: \"choices\" must be a list, got " + type_name(choices));
  }

  if (!first->is_object())
    throw ReplyError(Kind::Type, "model reply: choices[0] must be an object holding \"message\", got " +
                                     type_name(*first));
  it = first->find("message");
  if (it == first->end())
    throw ReplyError(Kind::Key, "model reply: choices[0] has no \"message\"", "message");
  const ojson& message = *it;

  if (!message.is_object())
    throw ReplyError(Kind::Type, "model reply: \"message\" must be an object holding \"content\", got " +
                                     type_name(message));
  it = message.find("content");
  if (it == message.end())
    throw ReplyError(Kind::Key, "model reply: \"message\" has no \"content\"", "content");
  if (!it->is_string())
    throw ReplyError(Kind::Type, "model reply: \"content\" must be a string, got " + type_name(*it));
  return it->get<std::string>();
}

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

std::vector<UnitRecord> merge_answer(const std::vector<std::string>& units, std::string_view answer) {
  std::optional<ojson> parsed = parse_json(clean_answer(answer), nullptr);

  // The answers mapping: the "units" member of the answer; absent when the
  // answer is not JSON or has no "units".
  const ojson* answers = nullptr;
  if (parsed) {
    if (!parsed->is_object())
      throw ReplyError(Kind::Type, "model answer must be a JSON object, got " + type_name(*parsed));
    auto it = parsed->find("units");
    if (it != parsed->end()) answers = &*it;
  }

  std::vector<UnitRecord> out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::string& u = units[i];

    const ojson* entry = nullptr;
    if (answers) {
      if (!answers->is_object())
        throw ReplyError(Kind::Type, "model answer: \"units\" must be an object, got " + type_name(*answers));
      auto it = answers->find(std::to_string(i + 1));
      if (it != answers->end() && truthy(*it)) entry = &*it;
    }
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
          // A plain string is walked character by character.
          const std::string& s = targets.get_ref<const std::string&>();
          for (std::size_t k = 0; k < s.size();) {
            std::size_t n = utf8::seq_len(static_cast<unsigned char>(s[k]));
            consider(std::string_view(s).substr(k, n));
            k += n;
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
  const std::string body = request_body(units, settings.model);
  const HttpReply reply = http_post_json(settings.url, body, settings.timeout_s, settings.interrupted);
  return merge_answer(units, answer_of(reply.body));
}

}  // namespace vorlane::extract
