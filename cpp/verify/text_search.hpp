// Substring search of literal variants in normalised log texts.
//
// A run log holds megabytes of text and every atom of every claim is looked
// up in it under several variants, most of them absent.  So a normalised
// text carries, per chunk (the text's size rounded up to a power of two, at
// most 16 KiB), a filter with one bit per byte of the chunk, set for the
// runs of three bytes that start in it (12.5% more memory).  A set of
// needles knows the three-byte runs that all of them contain; a chunk where
// one of those is missing (in it and in the chunk after it) cannot hold the
// start of an occurrence and is not read.  What is left is searched plainly, so the
// answers are exactly those of substring containment.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane::verify {

// A normalised text, ready for searching.
struct NormText {
  static constexpr std::size_t kFilterMin = 1024;    // shorter texts have no filter
  static constexpr unsigned kMaxChunkShift = 14;     // chunks of at most 16 KiB

  std::string text;
  unsigned chunk_shift = 0;      // log2 of the chunk size in bytes
  std::vector<uint64_t> filter;  // (chunk size / 64) words per chunk

  NormText() = default;
  explicit NormText(std::string s);
  bool has_filter() const { return !filter.empty(); }
  std::size_t chunk_bytes() const { return std::size_t(1) << chunk_shift; }
  std::size_t chunk_words() const { return chunk_bytes() / 64; }
  std::size_t chunks() const { return filter.size() / chunk_words(); }
  // The filter bit of a hash (gram_hash) in this text's chunks.
  uint32_t bit_of(uint32_t hash) const { return hash >> (32 - chunk_shift); }
  std::size_t memory() const { return text.capacity() + filter.capacity() * sizeof(uint64_t) + sizeof(*this); }
};

// A hash of the three bytes (a, b, c); its top bits select the filter bit.
inline uint32_t gram_hash(unsigned char a, unsigned char b, unsigned char c) {
  return (static_cast<uint32_t>(a) << 16 | static_cast<uint32_t>(b) << 8 | c) * 2654435761u;
}

// A set of needles (the variants of one literal, or one word) prepared for
// "does any of them occur in this text".
class Needles {
 public:
  Needles() = default;
  explicit Needles(std::vector<std::string> needles);

  bool empty() const { return needles_.empty(); }
  const std::vector<std::string>& needles() const { return needles_; }

  // True when some needle is a substring of `t`.
  bool found_in(const NormText& t) const;
  bool found_in(std::string_view t) const;

 private:
  bool search(std::string_view t) const;                       // whole text
  bool search_starts(std::string_view t, std::size_t from, std::size_t to) const;  // occurrences starting in [from, to)
  bool chunk_may_start(const NormText& t, std::size_t c) const;

  std::vector<std::string> needles_;
  std::size_t min_len_ = 0, max_len_ = 0;
  std::vector<uint32_t> gram_hashes_;  // of the three-byte runs common to every needle, rarest first
  // Per needle, the offsets of its two rarest bytes (in typical text): a
  // candidate start must show both.
  struct Probe {
    uint32_t i1 = 0, i2 = 0;
  };
  std::vector<Probe> probes_;
};

// True when `needle` (non-empty) occurs in t[from, end).  Candidate starts
// are found by comparing two of its bytes, at offsets i1 and i2 (different
// unless the needle is one byte), with the text many positions at a time.
bool find_probed(const char* t, std::size_t from, std::size_t end, std::string_view needle, std::size_t i1,
                 std::size_t i2);

}  // namespace vorlane::verify
