// Parse and write speed of the JSON library on three message shapes: a short
// request, a task-list answer of a few KiB and a memory-read answer holding a
// long array of byte values; parse time of objects with thousands of members
// (it must grow linearly with their number); and the cost of a failed parse
// whose error cascades through hundreds of nesting levels.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

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

void BM_JsonParse(benchmark::State& state) {
  std::string text;
  JsonWrite(text, Shape(state.range(0)).get());
  state.SetLabel(std::to_string(text.size()) + " bytes");
  for (auto _ : state) {
    JsonPtr tree = JsonParse(text, nullptr);
    benchmark::DoNotOptimize(tree.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
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

// Argument: 0 request, 1 task-list answer, 2 memory-read answer.
BENCHMARK(BM_JsonParse)->Arg(0)->Arg(1)->Arg(2);
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

}  // namespace

BENCHMARK_MAIN();
