// The Python side of the model path's errors: the exception classes and the
// translation of core errors into them.
#pragma once

#include <nanobind/nanobind.h>

#include <exception>
#include <optional>
#include <utility>

// Creates ModelEndpointError, ModelHTTPError, ModelTimeoutError and
// ModelReplyTooLargeError on `m`.
void bind_model_errors(nanobind::module_& m);

// Turns a core error of the model path into the matching Python exception
// (with the GIL held); anything else is rethrown for nanobind's own
// translation.
[[noreturn]] void rethrow_model_error(std::exception_ptr ep);

// Runs `f` with the GIL released; errors come back as Python exceptions once
// the GIL is held again.
template <class F>
auto released(F&& f) -> decltype(f()) {
  std::optional<decltype(f())> result;
  std::exception_ptr err;
  {
    nanobind::gil_scoped_release release;
    try {
      result.emplace(f());
    } catch (...) {
      err = std::current_exception();
    }
  }
  if (err) rethrow_model_error(err);
  return std::move(*result);
}
