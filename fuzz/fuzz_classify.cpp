// Fuzz target: the model reply reader.  Reply bytes (or an answer text) and
// a few Units -> unit classification records.
//
// Input: one mode byte, then the Units (separated by 0xFE) and, after the
// first 0xFF, the reply.  Modes:
//   0  the reply bytes are the HTTP response body;
//   1  the reply is the model's answer, wrapped in a chat-completions body
//      (JSON text), sent as UTF-8, UTF-16 or UTF-32, with or without a
//      byte-order mark (further bits of the mode byte);
//   2  the reply is the model's answer, merged directly.
// Invariants:
//  - the only exception is ReplyError;
//  - the reply read by the linear reader (json_read) equals nlohmann's own
//    ordered parse of it, or both refuse it;
//  - a wrapped answer without surrogates comes back unchanged from the body,
//    in every encoding, and one with lone surrogates is refused;
//  - one record per Unit, each kind one of the five, the strong kind wins
//    whenever there is one, and every accepted model target is non-blank and,
//    trimmed and lower-cased, occurs in the lower-cased Unit.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common.hpp"
#include "extract/classify.hpp"
#include "extract/errors.hpp"
#include "extract/extract.hpp"
#include "json/json_read.hpp"
#include "json/json_text.hpp"

using namespace vorlane;
using namespace vorlane::extract;

namespace {

// The text of a parsed value (strings as parsed: valid UTF-8).
std::string dump(const vorlane::json::ordered& v) {
  return v.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
}

std::string envelope(const std::string& answer) {
  json::Value message = json::Value::object();
  message.add("role", json::Value::string("assistant"));
  message.add("content", json::Value::string(answer));
  json::Value choice = json::Value::object();
  choice.add("index", json::Value::integer(0));
  choice.add("message", std::move(message));
  json::Value body = json::Value::object();
  body.add("choices", json::Value::array()).push(std::move(choice));
  return json::dumps(body);
}

// The ASCII text `s` in UTF-16 or UTF-32, either byte order.
std::string encode_wide(std::string_view s, int width, bool big, bool bom) {
  std::string out;
  auto unit = [&](uint32_t u) {
    for (int k = 0; k < width; ++k) {
      int shift = big ? 8 * (width - 1 - k) : 8 * k;
      out.push_back(static_cast<char>((u >> shift) & 0xFF));
    }
  };
  if (bom) unit(0xFEFF);
  for (char c : s) unit(static_cast<unsigned char>(c));
  return out;
}

bool is_kind(std::string_view k) {
  for (std::string_view x : KINDS)
    if (x == k) return true;
  return false;
}

void check_records(const std::vector<std::string>& units, const std::vector<UnitRecord>& recs) {
  FUZZ_CHECK(recs.size() == units.size(), "record count differs from unit count");
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::string& u = units[i];
    const UnitRecord& r = recs[i];
    FUZZ_CHECK(is_kind(r.kind), "kind outside KINDS: " + fuzz::show(r.kind));
    if (auto sk = strong_kind(u)) FUZZ_CHECK(r.kind == *sk, "strong kind overridden for " + fuzz::show(u));
    std::string lu = uni::lower(u);
    for (const std::string& t : r.model_targets) {
      std::string_view core = uni::strip(t);
      FUZZ_CHECK(!core.empty(), "blank model target accepted");
      FUZZ_CHECK(lu.find(uni::lower(core)) != std::string::npos,
                 "model target " + fuzz::show(t) + " not in unit " + fuzz::show(u));
      FUZZ_CHECK(utf8::is_valid(t), "model target not valid UTF-8");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t cut = rest.find('\xFF');
  std::string_view unit_bytes = cut == std::string_view::npos ? std::string_view() : rest.substr(0, cut);
  std::string_view reply = cut == std::string_view::npos ? rest : rest.substr(cut + 1);

  std::vector<std::string> units;
  if (!unit_bytes.empty())
    for (std::string_view u : fuzz::split(unit_bytes, '\xFE')) units.push_back(fuzz::to_text(u));

  {
    std::string text = fuzz::to_text(reply);
    std::optional<json::ordered> linear = json::read_ordered(text);
    std::optional<json::ordered> reference;
    if (text.find('\0') == std::string::npos && text.rfind("\xEF\xBB\xBF", 0) != 0) {
      try {
        reference = json::ordered::parse(text);
      } catch (const json::ordered::exception&) {
      }
    }
    FUZZ_CHECK(linear.has_value() == reference.has_value(), "linear reader and ordered parser disagree on " + fuzz::show(text));
    if (linear) FUZZ_CHECK(dump(*linear) == dump(*reference), "linear reader differs on " + fuzz::show(text));
  }

  std::vector<UnitRecord> recs;
  try {
    switch (mode % 3) {
      case 0: {
        std::string answer = answer_of(reply);
        recs = merge_answer(units, answer);
        break;
      }
      case 1: {
        std::string answer = fuzz::to_text(reply);
        std::string body = envelope(answer);
        int enc = (mode >> 2) % 5;  // UTF-8, UTF-16 LE/BE, UTF-32 LE/BE
        bool bom = (mode >> 5) & 1;
        if (enc == 0 && bom) body = "\xEF\xBB\xBF" + body;
        else if (enc) body = encode_wide(body, enc <= 2 ? 2 : 4, enc % 2 == 0, bom);
        std::string back;
        try {
          back = answer_of(body);
        } catch (const ReplyError&) {
          FUZZ_CHECK(utf8::has_surrogate(answer), "a wrapped answer was refused: " + fuzz::show(answer));
          return 0;
        }
        // Surrogates written as two escapes read back as one code point when
        // they form a pair; any other answer comes back byte for byte.
        if (!utf8::has_surrogate(answer))
          FUZZ_CHECK(back == answer, "a wrapped answer came back changed: " + fuzz::show(answer));
        recs = merge_answer(units, back);
        break;
      }
      default:
        recs = merge_answer(units, fuzz::to_text(reply));
    }
  } catch (const ReplyError&) {
    return 0;
  }
  check_records(units, recs);
  return 0;
}
