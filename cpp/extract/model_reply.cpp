// Reading the model's reply: the encoding of the response body and the
// chat-completions envelope around the model's answer.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extract/classify.hpp"
#include "extract/errors.hpp"
#include "json/json_read.hpp"
#include "text/utf8.hpp"

namespace vorlane::extract {

using ojson = json::ordered;
using Kind = ReplyError::Kind;

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

// A body that needs converting: one with a byte-order mark, or whose zero
// bytes at the start tell UTF-16 or UTF-32.
bool needs_decoding(std::string_view b) {
  if (b.empty()) return false;
  unsigned char c0 = static_cast<unsigned char>(b[0]);
  if (c0 == 0xEF || c0 == 0xFE || c0 == 0xFF || c0 == 0) return true;
  return b.size() >= 2 && b[1] == 0;
}

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

std::string type_name(const ojson& v) { return v.type_name(); }

// Keeps of a reply body only the way to choices[0].message.content, which
// is all that is read of it (and the types along the way, for the errors).
json::ReadTake envelope_part(const std::vector<json::ReadStep>& path, ojson::value_t) {
  const json::ReadStep& s = path.back();
  bool keep = false;
  switch (path.size()) {
    case 1: keep = s.member && s.name == "choices"; break;
    case 2: keep = !s.member && s.index == 0; break;
    case 3: keep = s.member && s.name == "message"; break;
    case 4: keep = s.member && s.name == "content"; break;
    default: break;
  }
  return keep ? json::ReadTake::Keep : json::ReadTake::Drop;
}

// answer_of on a body already in UTF-8 (or not decodable at all).
std::string answer_of_text(std::string_view text, const InterruptCheck& interrupted) {
  InterruptPoll poll(interrupted, 1);
  std::string error;
  std::optional<ojson> reply = json::read_ordered(text, &error, [&poll] { poll.tick(); }, envelope_part);
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

}  // namespace

std::string answer_of(std::string_view body, const InterruptCheck& interrupted) {
  if (!needs_decoding(body)) return answer_of_text(body, interrupted);
  return answer_of_text(decode_body(body), interrupted);
}

}  // namespace vorlane::extract
