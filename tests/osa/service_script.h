// A scripted debugger for the service wrappers: it records every request
// text the plug-in sends and replays canned answers in order. The fixture
// installs it as the process's send function and restarts request ids at 0.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jsonrpc/client.h"
#include "osa/entry.h"
#include "osa/plugin_api.h"
#include "runtime/history_log.h"

namespace service_test {

struct ScriptedDebugger {
  std::vector<std::string> requests;
  // nullopt stands for a transport failure (the send function gives null).
  std::deque<std::optional<std::string>> answers;
  std::string current;  // the answer handed out last, valid until the next call
};

inline ScriptedDebugger& Script() {
  static ScriptedDebugger script;
  return script;
}

inline const char* ScriptedSend(const char* request) {
  ScriptedDebugger& script = Script();
  script.requests.emplace_back(request);
  if (script.answers.empty()) return nullptr;
  std::optional<std::string> answer = std::move(script.answers.front());
  script.answers.pop_front();
  if (!answer) return nullptr;
  script.current = std::move(*answer);
  return script.current.c_str();
}

// An answer whose "result" object holds `members` (wire text without braces).
inline std::string ResultAnswer(std::string_view members) {
  std::string text = R"({ "jsonrpc" : "2.0", "result" : { )";
  text.append(members);
  text.append(members.empty() ? "}" : " }");
  text.append(R"(, "id" : 0 })");
  return text;
}

// The request text the plug-in sends for `method` with `params` as id `id`.
inline std::string RequestText(std::string_view method, std::string_view params, int id = 0) {
  return R"({ "jsonrpc" : "2.0", "method" : ")" + std::string(method) + R"(", "params" : )" +
         std::string(params) + R"(, "id" : )" + std::to_string(id) + " }";
}

// A value of `kind` holding `payload`.
inline OsaValue MakeValue(OsaValueKind kind, std::uint64_t payload = 0) {
  OsaValue value;
  value.kind = kind;
  value.payload = payload;
  return value;
}

class ServiceTest : public testing::Test {
 protected:
  void SetUp() override {
    OSA_Client_CmdInit(0, nullptr, ScriptedSend);
    JrInitService(OsaRpcService(), ScriptedSend);
    Script() = ScriptedDebugger{};
    HistoryLogClear();
    context.contextHandle = 5;
  }

  void Answer(std::string_view members) { Script().answers.emplace_back(ResultAnswer(members)); }
  void AnswerRaw(std::string text) { Script().answers.emplace_back(std::move(text)); }
  void AnswerNothing() { Script().answers.emplace_back(std::nullopt); }
  const std::vector<std::string>& Sent() const { return Script().requests; }

  OSA_ServiceCntx context;
};

}  // namespace service_test
