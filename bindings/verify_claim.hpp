// verify(claim, L): the claim's values read as Python reads them, the run
// log converted, the verdict computed by the core without the GIL.
#pragma once

#include <nanobind/nanobind.h>

namespace vorlane::py {

nanobind::tuple verify_claim(nanobind::handle claim, nanobind::handle L);

}  // namespace vorlane::py
