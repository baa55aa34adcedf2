#include "verify/match.hpp"

#include "verify/literal.hpp"

namespace vorlane::verify {

Literal& Matcher::literal(std::string_view lit) {
  auto it = literals_.find(std::string(lit));
  if (it != literals_.end()) return *it->second;
  faults_.check(home_fault_);
  auto l = std::make_unique<Literal>();
  l->norm = verify::norm(lit, home_ ? std::string_view(*home_) : std::string_view());
  l->variants = Needles(variants_of_norm(l->norm));
  for (auto& tok : tokens_of_norm(l->norm)) l->tokens.emplace_back(std::vector<std::string>{std::move(tok)});
  Literal& ref = *l;
  literals_.emplace(std::string(lit), std::move(l));
  return ref;
}

bool Matcher::in(std::string_view lit, const TextList& texts) {
  faults_.check(texts.type_fault);
  Literal& l = literal(lit);
  if (l.variants.empty()) return false;  // found nowhere
  for (const TextValue& v : texts.items) {
    if (v.skipped()) continue;
    if (l.variants.found_in(v.text->norm())) return true;
  }
  return false;
}

bool Matcher::in_one(std::string_view lit, const TextValue& v) {
  if (v.kind == TextValue::Kind::Other) faults_.raise(v.type_fault);
  Literal& l = literal(lit);
  if (l.variants.empty() || v.skipped()) return false;
  return l.variants.found_in(v.text->norm());
}

bool Matcher::words_in(std::string_view lit, const TextList& texts) {
  faults_.check(texts.type_fault);
  const Literal& l = literal(lit);
  if (l.tokens.size() < 2) return false;
  for (const TextValue& v : texts.items) {
    if (v.skipped()) continue;
    const NormText& nt = v.text->norm();
    bool all = true;
    for (const Needles& tok : l.tokens) {
      if (!tok.found_in(nt)) {
        all = false;
        break;
      }
    }
    if (all) return true;
  }
  return false;
}

}  // namespace vorlane::verify
