// The success rule of a command record's exit code.
//
// An exit code is whatever value the host's run log holds, so the rule is
// written as the questions it asks of that value, in the order it asks
// them; the host answers each for its own values (and may fail while doing
// so, by throwing).  A command succeeded when its exit code is null, or is
// not a text and equals 0, or equals the text "0".  So 0, 0.0, -0.0 and
// false succeed; 1, true, "00", " 0" and "" fail.
#pragma once

namespace vorlane::verify {

class ExitCodeQuestions {
 public:
  virtual ~ExitCodeQuestions() = default;
  virtual bool is_null() = 0;
  virtual bool is_text() = 0;
  // == 0; never asked of a text.
  virtual bool equals_zero() = 0;
  // == "0".
  virtual bool equals_zero_text() = 0;
};

bool exit_success(ExitCodeQuestions& code);

}  // namespace vorlane::verify
