// ThreadSanitizer driver of the core: split_units, literal_targets,
// heuristic_kind and the verdicts, run from 8 std::threads at once on shared
// inputs, compared with a single-threaded run.
//
//   tsan_driver REPO_ROOT [MAX_RUNS]
//
// Inputs: the runs of REPO_ROOT/../shared/corpus/runs/*.json when present
// (at most MAX_RUNS of them), each report with its own log, and every
// report of ../shared/corpus/reports judged against the log of one of the
// runs; else REPO_ROOT/examples (report.md with run.json, and runs/*.json).  The
// threaded phase comes first, so that the lazily built pieces (compiled
// patterns, per-thread matching resources, the normalised texts and test
// answers cached in each log text) are first built while 8 threads race for
// them; all threads share one RunLog per run.  The single-threaded phase
// then works on its own, fresh RunLogs.  Exit status 0 when every thread
// got exactly the single-threaded results (and TSan reported nothing:
// run with halt_on_error=1).
#include <algorithm>
#include <atomic>
#include <barrier>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "extract/extract.hpp"
#include "json/json_text.hpp"
#include "verify/names.hpp"
#include "verify/verdict.hpp"

namespace fs = std::filesystem;
using ojson = nlohmann::ordered_json;
using namespace vorlane;

namespace {

constexpr int kThreads = 8;
const char* kHome = "/home/u";

struct Run {
  std::string name;
  std::string report;
  ojson log;
};

std::string read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<Run> load_runs(const fs::path& root, std::size_t max_runs) {
  std::vector<Run> runs;
  fs::path corpus = root.parent_path() / "shared" / "corpus" / "runs";
  if (fs::is_directory(corpus)) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(corpus))
      if (e.path().extension() == ".json" && e.path().filename() != "index.json") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& p : files) {
      ojson d = ojson::parse(read_file(p));
      runs.push_back({p.filename().string(), d.value("report", ""), d.at("L")});
    }
  } else {
    fs::path ex = root / "examples";
    runs.push_back({"example", read_file(ex / "report.md"), ojson::parse(read_file(ex / "run.json"))});
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(ex / "runs")) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& p : files) {
      ojson d = ojson::parse(read_file(p));
      const char* key = d.contains("L") ? "L" : "log";
      if (d.contains(key) && d.at(key).is_object() && d.at(key).contains("events"))
        runs.push_back({p.filename().string(), d.value("report", ""), d.at(key)});
    }
  }
  if (runs.size() > max_runs) runs.resize(max_runs);
  // The other corpus reports, each judged against the log of one of the runs.
  fs::path reports = root.parent_path() / "shared" / "corpus" / "reports";
  if (fs::is_directory(reports) && !runs.empty()) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(reports))
      if (e.path().extension() == ".md") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    std::size_t n = runs.size();
    for (std::size_t i = 0; i < files.size(); ++i)
      runs.push_back({files[i].filename().string(), read_file(files[i]), runs[i % n].log});
  }
  return runs;
}

// ---------------------------------------------------------------------------
// A run log in JSON -> the core's RunLog (the fields the rules read).

json::Value to_value(const ojson& j) {
  switch (j.type()) {
    case ojson::value_t::null: return json::Value::null();
    case ojson::value_t::boolean: return json::Value::boolean(j.get<bool>());
    case ojson::value_t::number_integer: return json::Value::integer(std::to_string(j.get<int64_t>()));
    case ojson::value_t::number_unsigned: return json::Value::integer(std::to_string(j.get<uint64_t>()));
    case ojson::value_t::number_float: return json::Value::number(j.get<double>());
    case ojson::value_t::string: return json::Value::string(j.get<std::string>());
    case ojson::value_t::array: {
      json::Value a = json::Value::array();
      for (const auto& x : j) a.push(to_value(x));
      return a;
    }
    default: {
      json::Value o = json::Value::object();
      for (auto it = j.begin(); it != j.end(); ++it) o.add(it.key(), to_value(it.value()));
      return o;
    }
  }
}

bool truthy(const ojson& j) {
  switch (j.type()) {
    case ojson::value_t::null: return false;
    case ojson::value_t::boolean: return j.get<bool>();
    case ojson::value_t::number_integer: case ojson::value_t::number_unsigned: return j.get<int64_t>() != 0;
    case ojson::value_t::number_float: return j.get<double>() != 0.0;
    case ojson::value_t::string: return !j.get_ref<const std::string&>().empty();
    default: return !j.empty();
  }
}

std::unique_ptr<verify::RunLog> make_log(const ojson& L) {
  using verify::TextValue;
  auto log = std::make_unique<verify::RunLog>();
  log->home = std::make_shared<const std::string>(kHome);
  auto text = [&](const ojson& j) {
    if (!j.is_string()) return TextValue{};  // null (the corpus holds no other types here)
    return log->text(std::make_shared<const verify::LogText>(j.get<std::string>(), log->home));
  };
  auto field = [&](const ojson& obj, const char* key) {
    verify::TextField f;
    if (obj.contains(key)) f.value = text(obj.at(key));
    else f.fault = log->faults.add(verify::Error::key(key));
    return f;
  };
  for (const ojson& e : L.at("events")) {
    verify::Event ev;
    std::string tool = e.value("tool", "");
    ev.tool = verify::tool_kind(tool);
    ev.wrote = e.contains("wrote") && truthy(e.at("wrote"));
    ev.payload = field(e, "payload");
    ev.command = field(e, "command");
    ev.output = field(e, "output");
    log->events.own.push_back(std::move(ev));
  }
  for (const ojson& x : L.at("external")) {
    verify::External ext;
    ext.args = to_value(x.contains("args") ? x.at("args") : ojson());
    log->external.own.push_back(std::move(ext));
  }
  for (const ojson& w : L.at("written")) log->written.own.push_back(text(w));
  for (const ojson& c : L.at("commands")) {
    verify::Command cmd;
    cmd.command = field(c, "command");
    cmd.output = field(c, "output");
    const ojson code = c.contains("exit_code") ? c.at("exit_code") : ojson();
    cmd.success = code.is_null() || (code.is_number() && code.get<double>() == 0.0) ||
                  (code.is_boolean() && !code.get<bool>()) || (code.is_string() && code.get<std::string>() == "0");
    if (code.is_string()) cmd.exit_text = code.get<std::string>();
    else if (code.is_boolean()) cmd.exit_text = code.get<bool>() ? "True" : "False";
    else if (code.is_number_float()) cmd.exit_text = json::float_repr(code.get<double>());
    else cmd.exit_text = code.dump();
    log->commands.own.push_back(std::move(cmd));
  }
  return log;
}

// ---------------------------------------------------------------------------
// The work: everything the core answers for one run, as one text.

std::string work(const Run& run, const verify::RunLog& log) {
  std::string out;
  for (const std::string& u : extract::split_units(run.report)) {
    std::string_view kind = extract::heuristic_kind(u);
    std::vector<std::string> targets = extract::literal_targets(u);
    out += u;
    out += '\x1f';
    out += kind;
    for (const auto& t : targets) {
      out += '\x1e';
      out += t;
    }
    verify::ClaimKind k;
    k.command_ran = kind == "command_ran";
    k.file_changed = kind == "file_changed";
    k.mention_kind = kind == "other" || kind == "external_action";
    std::vector<std::string> atoms = verify::claim_atoms(targets);
    verify::Verdict v;
    try {
      v = atoms.empty() ? verify::nothing_to_check() : verify::judge(k, u, atoms, log);
    } catch (const verify::Error& e) {
      v = {"error", e.what()};
    }
    out += '\x1d';
    out += v.word;
    out += '\x1d';
    out += v.note;
    out += '\n';
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s REPO_ROOT [MAX_RUNS]\n", argv[0]);
    return 2;
  }
  std::size_t max_runs = argc > 2 ? std::stoul(argv[2]) : 1000;
  std::vector<Run> runs = load_runs(fs::absolute(argv[1]), max_runs);
  if (runs.empty()) {
    std::fprintf(stderr, "no runs found\n");
    return 2;
  }

  // Threaded phase: one shared RunLog per run, all threads start together and
  // walk the runs from different starting points.
  std::vector<std::unique_ptr<verify::RunLog>> shared;
  for (const Run& r : runs) shared.push_back(make_log(r.log));
  std::vector<std::vector<std::string>> got(kThreads, std::vector<std::string>(runs.size()));
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (std::size_t i = 0; i < runs.size(); ++i) {
        std::size_t k = (i + static_cast<std::size_t>(t) * runs.size() / kThreads) % runs.size();
        got[t][k] = work(runs[k], *shared[k]);
      }
    });
  }
  for (auto& th : threads) th.join();

  // Single-threaded phase, on fresh logs.
  int mismatches = 0;
  std::size_t lines = 0;
  for (std::size_t k = 0; k < runs.size(); ++k) {
    std::unique_ptr<verify::RunLog> fresh = make_log(runs[k].log);
    std::string want = work(runs[k], *fresh);
    lines += static_cast<std::size_t>(std::count(want.begin(), want.end(), '\n'));
    for (int t = 0; t < kThreads; ++t) {
      if (got[t][k] != want) {
        ++mismatches;
        std::fprintf(stderr, "MISMATCH: thread %d, run %s\n", t, runs[k].name.c_str());
      }
    }
  }
  // What the verdicts came to, so that a run that judged nothing is visible.
  std::map<std::string, int> words;
  for (const std::string& r : got[0]) {
    std::size_t pos = 0;
    while ((pos = r.find('\x1d', pos)) != std::string::npos) {
      std::size_t end = r.find('\x1d', pos + 1);
      words[r.substr(pos + 1, end - pos - 1)]++;
      pos = r.find('\n', end);
    }
  }
  std::printf("tsan driver: %zu runs, %zu claims, %d threads, %d mismatches; verdicts:", runs.size(), lines,
              kThreads, mismatches);
  for (const auto& [w, n] : words) std::printf(" %s %d", w.c_str(), n);
  std::printf("\n");
  return mismatches ? 1 : 0;
}
