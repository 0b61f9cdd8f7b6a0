// The debugger's answers to the plug-in's OSA_Service_* requests, taken from
// a model target: expression and string evaluation, the two start-up
// commands, memory, live registers, routine names, messages shown to the
// user, the CPU mode and the run state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/target_model.h"
#include "simple_json/json_value.h"

// A text the plug-in asked the debugger to show the user.
struct DbgDisplayedMessage {
  std::int32_t type = 0;  // 2: an error message
  std::string text;
  std::string during;  // the client request being served when it came, as sent
};

// The answer to an expression that reads no target state: a value, or a failure.
struct DbgMemoAnswer {
  bool ok = false;
  std::uint64_t value = 0;
};

// A hash of a text taken eight bytes at a time: the memo's keys are a few
// dozen bytes, where the library's byte-wise hash costs more than the rest
// of a lookup.
std::size_t DbgTextHashOf(std::string_view text) noexcept;

// Hashes std::string keys and std::string_view probes alike, so a lookup
// copies nothing.
struct DbgTextHash {
  using is_transparent = void;  // NOLINT(readability-identifier-naming): the library asks this name
  std::size_t operator()(std::string_view text) const noexcept { return DbgTextHashOf(text); }
};

// Answers of expressions that read neither memory nor registers, by their
// text: these depend on the types and symbols alone, which the plug-in asks
// about again on every refresh. The answers hold only for the model they were
// filled from, with the type and symbol counts it had then. A symbol or type
// changed in place goes unseen, so the memo is off unless the state's owner
// turns it on for a model whose layout stays as built (the tools do; tests
// that edit a model leave it off).
// A refresh asks the same expressions in the same order as the one before,
// so each entry remembers the entry asked for after it last time; that one
// is tried by a plain comparison before the hash lookup.
struct DbgMemoEntry {
  DbgMemoAnswer answer;
  std::string_view key;          // the entry's own key, held by its map node
  DbgMemoEntry* next = nullptr;  // the kept entry asked for after this one last time
};

struct DbgExpressionMemo {
  bool enabled = false;
  const model::TargetModel* model = nullptr;
  std::size_t typeCount = 0;
  std::size_t symbolCount = 0;
  std::size_t textBytes = 0;  // sum of the keys' lengths
  std::unordered_map<std::string, DbgMemoEntry, DbgTextHash, std::equal_to<>> answers;
  DbgMemoEntry* last = nullptr;  // the kept entry asked for last; null after a clear
};

// Bounds of the memo; past either, answers are still given but no longer kept.
inline constexpr std::size_t kDbgMemoMaxAnswers = 4096;
inline constexpr std::size_t kDbgMemoMaxTextBytes = std::size_t{256} << 10;

// What the answering side keeps: the target it answers from (borrowed; it
// must outlive the state, and writes go into it) and what it has collected.
struct DbgServiceState {
  model::TargetModel* model = nullptr;
  std::vector<DbgDisplayedMessage> messages;
  // The client request being served, set by the session, whose text stays
  // in place while the request is served; empty outside a request.
  std::string_view during;
  std::uint64_t answered = 0;  // service requests answered, failures included
  // Requests past this many answered are refused (kDbgServiceFailed), so a
  // plug-in walking a corrupt target costs a bounded amount of work.
  std::uint64_t answerBudget = UINT64_MAX;
  DbgExpressionMemo memo;
};

// The "return" of an answer that the model cannot give (unknown method,
// missing or ill-typed member, unmapped memory, an expression that does not
// evaluate, an unknown command).
inline constexpr std::int32_t kDbgServiceFailed = 1;

// Requests whose memory data is larger than this are refused, so that a
// hostile "count" cannot make the debugger allocate without bound.
inline constexpr std::uint64_t kDbgMaxMemoryBytes = std::uint64_t{1} << 20;

// The two commands that the kernel code runs at start-up: each prints the
// name of the routine of the caller's and of the current stack frame.
inline constexpr std::string_view kDbgCallerProcedureCommand = "E 1; mprintf(\"%s\", $_PROCEDURE);";
inline constexpr std::string_view kDbgCurrentProcedureCommand = "E; mprintf(\"%s\", $_PROCEDURE);";

// True when `message` is a request (an object with a "method" member).
bool DbgIsRequest(const JsonValue* message);

// Answers one service request (a parsed request object) from the model and
// returns the answer's text: { "jsonrpc" : "2.0", "result" : { ... "return" :
// N }, "id" : <the request's id> }, members before "return" as the method
// defines them. Never fails: what cannot be answered gets a non-zero "return".
std::string DbgAnswerServiceRequest(DbgServiceState* state, const JsonValue& request);

// The same answer written over *answer, whose room is kept: a caller that
// answers request after request reuses one buffer.
void DbgWriteServiceAnswer(DbgServiceState* state, const JsonValue& request, std::string* answer);

// Answers `message` over *answer when it is a request (as DbgIsRequest
// tells) and returns true; returns false, writing and counting nothing, for
// anything else. One pass over the message serves both questions.
bool DbgServeIfRequest(DbgServiceState* state, const JsonValue* message, std::string* answer);

// Bytes as hex text, two lower-case digits per byte ("ab01").
std::string DbgHexEncode(const std::uint8_t* data, std::size_t count);

// Hex text (digits of either case, two per byte) into bytes; false, with
// `out` untouched, when the length is odd or a pair is not two hex digits.
[[nodiscard]] bool DbgHexDecode(std::string_view text, std::vector<std::uint8_t>* out);
