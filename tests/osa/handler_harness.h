// A harness for the client method handlers: requests go in as wire text
// through OSA_Client_CmdParser and the answers' "result" text comes back.
// The fixture starts every test from an empty callback table and one open
// service record, and closes every record it opened afterwards, so tests
// also pass when one process runs them all.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "jsonrpc/client.h"
#include "osa/context.h"
#include "osa/entry.h"
#include "osa/plugin_api.h"

namespace handler_test {

inline constexpr std::uint64_t kHandle = 7;

// The debugger at the other end while a callback waits for an answer: each
// outgoing request runs the next scripted step (which may dispatch nested
// debugger requests) and hands back its answer.
struct Debugger {
  std::vector<std::string> sent;
  std::deque<std::function<std::string()>> steps;
  std::string answer;
};

inline Debugger& Peer() {
  static Debugger peer;
  return peer;
}

inline const char* PeerSend(const char* request) {
  Debugger& peer = Peer();
  peer.sent.emplace_back(request);
  if (peer.steps.empty()) return nullptr;
  std::function<std::string()> step = std::move(peer.steps.front());
  peer.steps.pop_front();
  peer.answer = step();
  return peer.answer.c_str();
}

inline std::string RequestText(std::string_view method, std::string_view params) {
  return R"({ "jsonrpc" : "2.0", "method" : "OSA_Client_)" + std::string(method) +
         R"(", "params" : )" + std::string(params) + R"(, "id" : 1 })";
}

// The "result" text of one request's response (the whole response when it
// carries no result).
inline std::string Call(std::string_view method, std::string_view params) {
  const char* answer = OSA_Client_CmdParser(RequestText(method, params).c_str());
  const std::string response = answer == nullptr ? "(null)" : answer;
  constexpr std::string_view kHead = R"({ "jsonrpc" : "2.0", "result" : )";
  constexpr std::string_view kTail = R"(, "id" : 1 })";
  if (!response.starts_with(kHead) || !response.ends_with(kTail)) return response;
  return response.substr(kHead.size(), response.size() - kHead.size() - kTail.size());
}

// "{ "context" : 7" followed by `members`, closed.
inline std::string WithContext(std::string_view members = "") {
  std::string text = R"({ "context" : )" + std::to_string(kHandle);
  if (!members.empty()) text += ", " + std::string(members);
  return text + " }";
}

class HandlerTest : public testing::Test {
 protected:
  void SetUp() override {
    OSA_Client_CmdInit(0, nullptr, PeerSend);
    JrInitService(OsaRpcService(), PeerSend);
    OsaCallbacks() = OsaPluginCallbacks{};
    Peer() = Debugger{};
    Open(kHandle);
  }

  void TearDown() override {
    OsaCallbacks() = OsaPluginCallbacks{};
    for (std::uint64_t handle : opened) {
      const std::string params = R"({ "context" : )" + std::to_string(handle) + " }";
      while (Call("OsaCleanup", params) == R"({ "return" : 0 })") {
      }
    }
  }

  // Opens a service record with an OsaInit request and returns it.
  OSA_ServiceCntx* Open(std::uint64_t handle, std::string_view members = "") {
    opened.push_back(handle);
    Call("OsaInit", R"({ "context" : )" + std::to_string(handle) +
                        (members.empty() ? "" : ", " + std::string(members)) + " }");
    return OsaContextFind(handle);
  }

  OSA_ServiceCntx* Record() const { return OsaContextFind(kHandle); }

  std::vector<std::uint64_t> opened;
};

}  // namespace handler_test
