#include "verify/exit_code.hpp"

namespace vorlane::verify {

bool exit_success(ExitCodeQuestions& code) {
  if (code.is_null()) return true;
  if (!code.is_text() && code.equals_zero()) return true;
  return code.equals_zero_text();
}

}  // namespace vorlane::verify
