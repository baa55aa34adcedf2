#include "extract/patterns.hpp"

namespace vorlane::extract {

namespace {

using P = Pattern;
constexpr unsigned I = Pattern::IGNORECASE;

// Pattern texts, in Python `re` syntax.
constexpr std::string_view kDate = R"(\b\d{4}-\d{2}-\d{2}\b)";
constexpr std::string_view kVersion = R"(\bv?\d+(?:\.\d+){2,}(?:[-+][\w.]+)?\b)";
constexpr std::string_view kDim = R"(\b\d+\s?[x×]\s?\d+\b)";
constexpr std::string_view kTime =
    R"(\b\d{1,2}:\d{2}(?::\d{2})?\s?(?:AM|PM|am|pm)?\b|\b\d{1,2}/\d{1,2}(?:/\d{2,4})?\b|\b\d{2}-\d{2}\b(?!-)|\b(?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Sept|Oct|Nov|Dec)[a-z]*\.?\s+\d{1,2}(?:,\s*\d{4})?\b)";
constexpr std::string_view kPath =
    R"((?:~|/home/\w+|/tmp|/etc|/opt|/var|/Users/\w+)[\w./+-]*|(?<![/:\w])/(?:[\w.+-]+/)+[\w.+-]+|\b[\w.-]+\.(?:md|py|json|yaml|yml|kt|kts|sh|toml|txt|db|cfg|ini|gd|tscn|png|html|css|js|ts|mjs|svg|log|service|timer|env)\b)";
// The first two alternatives of kPath.
constexpr std::string_view kPathHead = kPath.substr(0, kPath.find(R"(|\b[\w.-]+\.(?:md)"));
constexpr std::string_view kKeyval = R"(\b[\w.-]+\s?=\s?[\w./:-]+)";
constexpr std::string_view kNum = R"((?<![\w.])\d+(?:,\d{3})*(?:\.\d+)?(?![\w.]))";
constexpr std::string_view kCode = R"(`([^`\n]+)`)";

constexpr std::string_view kNonClaim =
    R"(^(next|todo|note|recommend|suggest|should|could|would|consider|if you|let me know|you can|you may|want me|shall i|do you|open question|caveat|risk|plan|proposal|option|optional|alt|here's|here is|the gist|say proceed|reply)\b)";
constexpr std::string_view kIntent =
    R"(\b(will|won't|i'll|we'll|it'll|i will|we will|going to|gonna|plan to|planning|intend|next on my list|next step|next up|until then|from here|once you|when you|as soon as|if you want|i can|we can|i could|we could|we should|i'd|we'd|let me|let's|want me to|say the word|your call|my read|i think|i'd recommend|recommend)\b)";
constexpr std::string_view kWorkVerb =
    R"(\b(add|added|creat\w+|wrote|writ\w+|edit\w*|patch\w*|fix\w*|remov\w*|delet\w*|renam\w*|mov\w*|replac\w*|updat\w*|bump\w*|chang\w*|set|install\w*|enabl\w*|disabl\w*|ran|run|re-?ran|execut\w*|built|build|deploy\w*|push\w*|commit\w*|merg\w*|tagg\w*|releas\w*|start\w*|stopp\w*|restart\w*|kill\w*|verif\w*|confirm\w*|check\w*|test\w*|pass\w*|fail\w*|report\w*|return\w*|show\w*|found|observ\w*|measur\w*|regenerat\w*|import\w*|export\w*|clean|configur\w*|sent|send|schedul\w*|regist\w*|preserv\w*|kept|retain\w*|untouched|remain\w*|landed|synced|sync\w*|copied|bumped|refresh\w*|done|is on|now on|works|working)\b)";
constexpr std::string_view kImperative =
    R"(^(send|open|relaunch|re-?copy|try|use|extend|click|visit|review|reopen|make|keep|go|pull|let|tell|reply|paste|copy|type|press|ping|drop|grab|give|hit|point|pick|choose|flip|confirm|approve|reject)\b(?!\w)|^(build|create|stage|deploy|publish|push|register|scrub|write|add|remove|install|run|start|stop|move|rename|check|verify|read|look|see|note|remember|wait|hold|skip|ask|call|email|watch)\s+(?:the|a|an|your|my|our|it|this|that|these|those|them|me|us|one|each|every|all|both|`|/|~)\b)";

constexpr std::string_view kRunVerb = R"(\b(ran|re-ran|reran|executed|invoked|re-run|rerun)\b)";
constexpr std::string_view kEditVerb =
    R"(\b(added|patched|edited|rewrote|wrote|created|removed|deleted|replaced|bumped|renamed|synced|updated|fixed|guarded|reinstalled|installed|enabled|disabled|set|pinned|appended|inserted|dropped|swapped|switched)\b)";
constexpr std::string_view kNegated =
    R"(\b(don'?t|do not|never|not|no|without|didn'?t|did not|isn'?t|wasn'?t)\s+(?:\w+\s+){0,2}$)";
constexpr std::string_view kCmdWord =
    R"(^\s*(\$ ?)?(godot|xvfb-run|python3?|pip|git|npm|npx|node|docker|ssh|scp|rsync|curl|wget|quarvel|systemctl|sudo|\./|gradle|bash|sh|make|cargo|go|adb|aapt2|kubectl|terraform|ansible|pytest|grep|rg|find|cat|ls|tail|head)\b)";

}  // namespace

Patterns::Patterns()
    : DATE_RE(kDate),
      VERSION_RE(kVersion),
      DIM_RE(kDim),
      TIME_RE(kTime),
      NUM_RE(kNum),
      CODE_RE(kCode),
      PATH_HEAD_RE(kPathHead),
      IMPERATIVE_RE(kImperative),
      NON_CLAIM_RE(kNonClaim),
      INTENT_RE(kIntent),
      WORK_VERB_RE(kWorkVerb),
      RUN_VERB_RE(kRunVerb),
      EDIT_VERB_RE(kEditVerb),
      NEGATED_RE(kNegated, I),
      CMD_WORD_RE(kCmdWord, 0, P::Mode::Match) {}

const Patterns& patterns() {
  static const Patterns p;
  return p;
}

std::vector<PatternInfo> exported_patterns() {
  constexpr int RE_I = 2;
  return {
      {"DATE_RE", kDate, 0},          {"VERSION_RE", kVersion, 0},      {"DIM_RE", kDim, 0},
      {"TIME_RE", kTime, 0},          {"PATH_RE", kPath, 0},            {"KEYVAL_RE", kKeyval, 0},
      {"NUM_RE", kNum, 0},            {"CODE_RE", kCode, 0},            {"NON_CLAIM_RE", kNonClaim, RE_I},
      {"INTENT_RE", kIntent, RE_I},   {"WORK_VERB_RE", kWorkVerb, RE_I}, {"IMPERATIVE_RE", kImperative, RE_I},
      {"RUN_VERB_RE", kRunVerb, RE_I}, {"EDIT_VERB_RE", kEditVerb, RE_I}, {"NEGATED_RE", kNegated, RE_I},
      {"CMD_WORD_RE", kCmdWord, 0},
  };
}

}  // namespace vorlane::extract
