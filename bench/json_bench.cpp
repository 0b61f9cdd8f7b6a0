// Parse and write speed of the JSON library on the message shapes it meets: a
// short request, a task-list answer of a few KiB, a memory-read answer holding
// a long array of byte values, and every message of a recorded session; the
// same texts through two well-known DOM libraries as yardsticks, with the
// ratios printed after the run; parse time of objects with thousands of
// members (it must grow linearly with their number); and the cost of a failed
// parse whose error cascades through hundreds of nesting levels.
#include <benchmark/benchmark.h>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

#ifndef OSA_BENCH_SESSION_RECORD
#define OSA_BENCH_SESSION_RECORD "tests/records/model/v1-mask-core-32.rec"
#endif

namespace {

JsonPtr Envelope(JsonPtr result) {
  JsonPtr message = JsonNewObject();
  JsonObjectAddString(message.get(), "jsonrpc", "2.0");
  JsonObjectAdd(message.get(), "result", std::move(result));
  JsonObjectAddInteger(message.get(), "id", std::int64_t{42});
  return message;
}

// About 300 bytes: a client request with its request-scoped members.
JsonPtr Request() {
  JsonPtr params = JsonNewObject();
  JsonObjectAddInteger(params.get(), "context", std::int64_t{1});
  JsonObjectAddInteger(params.get(), "taskId", std::uint32_t{0x20000400});
  JsonObjectAddInteger(params.get(), "coreId", std::int32_t{1});
  JsonObjectAddBoolean(params.get(), "targetRunning", 0);
  JsonObjectAddString(params.get(), "objectName", "qx_task_idle \"main\"\tqueue");
  JsonObjectAddInteger(params.get(), "address", std::uint64_t{0xFFFFFFFFE0001000});
  JsonObjectAddString(params.get(), "expression", "&((QX_TASK *)536871424)->status");
  JsonPtr message = JsonNewObject();
  JsonObjectAddString(message.get(), "jsonrpc", "2.0");
  JsonObjectAddString(message.get(), "method", "OSA_Client_TaskStatusGet");
  JsonObjectAdd(message.get(), "params", std::move(params));
  JsonObjectAddInteger(message.get(), "id", std::int64_t{7});
  return message;
}

// About 4 KiB: an answer listing tasks with their attributes.
JsonPtr TaskListAnswer() {
  JsonPtr tasks = JsonNewArray();
  for (int i = 0; i < 42; ++i) {
    JsonPtr task = JsonNewObject();
    JsonObjectAddString(task.get(), "name", "worker task " + std::to_string(i));
    JsonObjectAddInteger(task.get(), "id", std::uint32_t{0x20000400} + std::uint32_t(i) * 0x80);
    JsonObjectAddInteger(task.get(), "priority", std::int32_t{i % 32});
    JsonObjectAddString(task.get(), "status", i % 3 == 0 ? "Ready" : "Pended (queue)");
    JsonArrayAppend(tasks.get(), std::move(task));
  }
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "return", std::int32_t{0});
  JsonObjectAdd(result.get(), "task_table", std::move(tasks));
  return Envelope(std::move(result));
}

// About 60 KiB: a memory-read answer with one array element per byte.
JsonPtr MemoryAnswer() {
  JsonPtr bytes = JsonNewArray();
  std::uint32_t seed = 12345;
  for (int i = 0; i < 13500; ++i) {
    seed = seed * 1103515245 + 12345;
    JsonArrayAppend(bytes.get(), JsonNewInteger((seed >> 16) & 0xFF));
  }
  JsonPtr result = JsonNewObject();
  JsonObjectAddInteger(result.get(), "return", std::int32_t{0});
  JsonObjectAdd(result.get(), "data", std::move(bytes));
  return Envelope(std::move(result));
}

JsonPtr Shape(std::int64_t which) {
  switch (which) {
    case 0:
      return Request();
    case 1:
      return TaskListAnswer();
    default:
      return MemoryAnswer();
  }
}

// The messages of a record file: each line is an optional time stamp, a
// sender tag, a colon, blanks and one message.
std::vector<std::string> SessionMessages() {
  std::vector<std::string> messages;
  std::ifstream file(OSA_BENCH_SESSION_RECORD);
  std::string line;
  while (std::getline(file, line)) {
    const std::size_t colon = line.find(':', line.find_first_of("PVpv"));
    if (colon == std::string::npos) continue;
    const std::size_t start = line.find_first_not_of(" \t", colon + 1);
    if (start != std::string::npos) messages.push_back(line.substr(start));
  }
  return messages;
}

// Argument 0 to 2: the built shapes; 3: every message of the session.
const std::vector<std::string>& Texts(std::int64_t which) {
  static std::map<std::int64_t, std::vector<std::string>> cache;
  std::vector<std::string>& texts = cache[which];
  if (texts.empty()) {
    if (which == 3) {
      texts = SessionMessages();
    } else {
      std::string text;
      texts.push_back(JsonWrite(text, Shape(which).get()));
    }
  }
  return texts;
}

std::size_t TotalBytes(const std::vector<std::string>& texts) {
  std::size_t total = 0;
  for (const std::string& text : texts)
    total += text.size();
  return total;
}

// Runs `step` over every text of the shape once per iteration and counts the
// input bytes; the label names the shape.
template <typename Step>
void RunOverTexts(benchmark::State& state, Step step) {
  const std::vector<std::string>& texts = Texts(state.range(0));
  if (texts.empty()) {
    state.SkipWithError("no session record found");
    return;
  }
  for (auto _ : state) {
    for (const std::string& text : texts)
      step(text);
  }
  const std::size_t bytes = TotalBytes(texts);
  state.SetLabel(texts.size() == 1 ? std::to_string(bytes) + " bytes"
                                   : std::to_string(texts.size()) + " messages, " +
                                         std::to_string(bytes) + " bytes");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bytes));
}

void BM_JsonParse(benchmark::State& state) {
  RunOverTexts(state, [](const std::string& text) {
    JsonPtr tree = JsonParse(text, nullptr);
    benchmark::DoNotOptimize(tree.get());
  });
}

void BM_JsonParseWrite(benchmark::State& state) {
  std::string out;
  RunOverTexts(state, [&out](const std::string& text) {
    JsonPtr tree = JsonParse(text, nullptr);
    out.clear();
    JsonWrite(out, tree.get());
    benchmark::DoNotOptimize(out.data());
  });
}

void BM_RapidJsonParse(benchmark::State& state) {
  RunOverTexts(state, [](const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    benchmark::DoNotOptimize(&document);
  });
}

void BM_RapidJsonParseWrite(benchmark::State& state) {
  rapidjson::StringBuffer out;
  RunOverTexts(state, [&out](const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.data(), text.size());
    out.Clear();
    rapidjson::Writer<rapidjson::StringBuffer> writer(out);
    document.Accept(writer);
    benchmark::DoNotOptimize(out.GetString());
  });
}

void BM_NlohmannParse(benchmark::State& state) {
  RunOverTexts(state, [](const std::string& text) {
    nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    benchmark::DoNotOptimize(&document);
  });
}

void BM_NlohmannParseWrite(benchmark::State& state) {
  RunOverTexts(state, [](const std::string& text) {
    nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    std::string out = document.dump();
    benchmark::DoNotOptimize(out.data());
  });
}

void BM_JsonWrite(benchmark::State& state) {
  const JsonPtr tree = Shape(state.range(0));
  std::string text;
  JsonWrite(text, tree.get());
  state.SetLabel(std::to_string(text.size()) + " bytes");
  for (auto _ : state) {
    std::string out;
    JsonWrite(out, tree.get());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

// The text of one object with `members` distinct names, each holding an
// address-sized integer (about 29 bytes per member).
std::string WideObject(std::int64_t members) {
  JsonPtr object = JsonNewObject();
  for (std::int64_t i = 0; i < members; ++i) {
    JsonObjectAddInteger(object.get(), "member_" + std::to_string(i),
                         std::uint32_t{0x20000400} + static_cast<std::uint32_t>(i));
  }
  std::string text;
  return JsonWrite(text, object.get());
}

// Argument: member count. Time per member must stay flat as the count grows.
void BM_JsonParseWideObject(benchmark::State& state) {
  const std::string text = WideObject(state.range(0));
  state.SetLabel(std::to_string(text.size()) + " bytes");
  for (auto _ : state) {
    JsonPtr tree = JsonParse(text, nullptr);
    benchmark::DoNotOptimize(tree.get());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// A 64.5 KB message whose member value opens 500 arrays and then holds only
// 0xFF bytes: each level adds an error line quoting the rest of the input.
// The label gives the size of the error text.
void BM_JsonParseErrorCascade(benchmark::State& state) {
  std::string text = "{\"a\":" + std::string(500, '[');
  text.append(64500 - 1 - text.size(), '\xff');
  text.push_back('}');
  std::string error;
  for (auto _ : state) {
    JsonPtr tree = JsonParse(text, &error);
    benchmark::DoNotOptimize(tree.get());
  }
  state.SetLabel(std::to_string(text.size()) + " bytes in, " + std::to_string(error.size()) +
                 " bytes of error text");
}

// Argument: 0 request, 1 task-list answer, 2 memory-read answer, 3 session.
#define OSA_SHAPES Arg(0)->Arg(1)->Arg(2)->Arg(3)
BENCHMARK(BM_JsonParse)->OSA_SHAPES;
BENCHMARK(BM_RapidJsonParse)->OSA_SHAPES;
BENCHMARK(BM_NlohmannParse)->OSA_SHAPES;
BENCHMARK(BM_JsonParseWrite)->OSA_SHAPES;
BENCHMARK(BM_RapidJsonParseWrite)->OSA_SHAPES;
BENCHMARK(BM_NlohmannParseWrite)->OSA_SHAPES;
BENCHMARK(BM_JsonWrite)->Arg(0)->Arg(1)->Arg(2);
// 31,500 members make a text of about 0.87 MB, a long line of a record file.
BENCHMARK(BM_JsonParseWideObject)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Arg(8000)
    ->Arg(31500)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonParseErrorCascade)->Unit(benchmark::kMillisecond);

// Console output as usual, and the bytes per second of every comparison run
// kept by name, so that the ratios can be printed at the end. With
// repetitions, the median stands for the run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto rate = run.counters.find("bytes_per_second");
      if (rate == run.counters.end() || run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      const std::string name = run.run_name.str();
      if (median || rates_.find(name) == rates_.end() || !medianSeen_[name]) {
        rates_[name] = rate->second.value / 1e6;
        medianSeen_[name] = median;
      }
    }
  }

  // One line per shape: MB/s of the three libraries and this library's
  // ratio to each yardstick, for parse alone and parse+write.
  void PrintRatios() const {
    static constexpr const char* kShapes[] = {"request", "4 KiB answer", "60 KiB array", "session"};
    std::printf("\n%-13s %-11s %9s %9s %9s %10s %10s\n", "shape", "step", "MB/s", "rapid",
                "nlohmann", "/rapid", "/nlohmann");
    for (const char* step : {"Parse", "ParseWrite"}) {
      for (int shape = 0; shape < 4; ++shape) {
        const std::string arg = "/" + std::to_string(shape);
        const double own = Rate(std::string("BM_Json") + step + arg);
        const double rapid = Rate(std::string("BM_RapidJson") + step + arg);
        const double nlohmann = Rate(std::string("BM_Nlohmann") + step + arg);
        if (own <= 0 || rapid <= 0 || nlohmann <= 0) continue;
        std::printf("%-13s %-11s %9.1f %9.1f %9.1f %10.2f %10.2f\n", kShapes[shape], step, own,
                    rapid, nlohmann, own / rapid, own / nlohmann);
      }
    }
  }

 private:
  double Rate(const std::string& name) const {
    const auto found = rates_.find(name);
    return found == rates_.end() ? 0.0 : found->second;
  }

  std::map<std::string, double> rates_;
  std::map<std::string, bool> medianSeen_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
