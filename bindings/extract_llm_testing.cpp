#include "extract_llm_testing.hpp"

#include <string>
#include <vector>

#include "extract/classify.hpp"
#include "extract_llm.hpp"
#include "extract_llm_errors.hpp"
#include "pystr.hpp"

namespace nb = nanobind;
using namespace vorlane;

void bind_llm_testing(nb::module_& m) {
  m.def(
      "_request_body",
      [](nb::handle units, nb::handle model) {
        std::vector<std::string> us = units_arg(units);
        std::string storage;
        std::string name(py::text_arg(model.ptr(), "model", storage));
        return py::to_str(released([&] { return extract::request_body(us, name); }));
      },
      nb::arg("units").none(), nb::arg("model").none(),
      nb::sig("def _request_body(units: list[str], model: str) -> str"),
      "The exact request body classify_units would send for these Units and model name.");

  m.def(
      "_merge_classification",
      [](nb::handle units, nb::handle answer) {
        std::vector<std::string> us = units_arg(units);
        std::string storage;
        std::string text(py::text_arg(answer.ptr(), "answer", storage));
        std::vector<extract::UnitRecord> recs = released([&] { return extract::merge_answer(us, text); });
        return records_list(recs);
      },
      nb::arg("units").none(), nb::arg("answer").none(),
      nb::sig("def _merge_classification(units: list[str], answer: str) -> list[dict[str, object]]"),
      "The records classify_units returns when the model's answer (the reply's content) is "
      "`answer`: cleaning, decoding and the merge with the heuristics, raising as it does.");
}
