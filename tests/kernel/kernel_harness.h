// A harness for kernel-awareness tests: a model target answered by the model
// debugger in this process. Kernel functions called with the fixture's
// context send their service requests to that debugger; the requests are
// recorded and the messages it was asked to show are collected. Helpers
// change the model the way a broken or unusual kernel build would.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/session.h"
#include "kernel/discovery.h"
#include "kernel/kernel_context.h"
#include "model/kernel_builder.h"
#include "model/target_model.h"
#include "osa/plugin_api.h"

namespace kernel_test {

class ModelTarget : public testing::Test {
 public:
  void TearDown() override { Close(); }

  // Builds a kernel of `variant` and opens the debugger on it.
  [[nodiscard]] bool Open(std::string_view variant) {
    Close();
    std::string error;
    if (!model::BuildKernelModel(variant, &model, &error)) {
      ADD_FAILURE() << error;
      return false;
    }
    return OpenSession();
  }

  // Opens the debugger on the model as it stands (for hand-made targets).
  [[nodiscard]] bool OpenSession() {
    DbgSessionOptions options;
    options.record = true;
    std::string error;
    if (!DbgSessionOpen(options, &model, &session, &error)) {
      ADD_FAILURE() << error;
      return false;
    }
    context = OSA_ServiceCntx{};
    context.contextHandle = 1;
    context.bigEndianTarget = model.memory.bigEndian;
    return true;
  }

  void Close() {
    context.privateData.reset();
    if (session != nullptr) {
      (void)DbgSessionClose(session.get());
      session.reset();
    }
  }

  // The texts the plug-in asked the debugger to show, in order.
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const DbgDisplayedMessage& message : session->service.messages) {
      texts.push_back(message.text);
    }
    return texts;
  }

  // The request texts the plug-in sent since the last Forget().
  std::vector<std::string> Requests() const {
    std::vector<std::string> lines;
    std::string_view record = session->record;
    constexpr std::string_view kTag = "PLUGIN: ";
    while (!record.empty()) {
      const std::size_t end = record.find('\n');
      const std::string_view line = record.substr(0, end);
      if (line.starts_with(kTag)) lines.emplace_back(line.substr(kTag.size()));
      if (end == std::string_view::npos) break;
      record.remove_prefix(end + 1);
    }
    return lines;
  }

  // The requests that contain `part`.
  std::vector<std::string> RequestsWith(std::string_view part) const {
    std::vector<std::string> found;
    for (const std::string& request : Requests()) {
      if (request.find(part) != std::string::npos) found.push_back(request);
    }
    return found;
  }

  void Forget() {
    session->record.clear();
    session->service.messages.clear();
  }

  // Runs TargetInit on the fixture's context; the new record or null.
  KernelContext* TargetInit(std::int32_t* status) {
    *status = KernelTargetInit(&context, &context.info, &context.privateData);
    return KernelContextOf(context.privateData.get());
  }

  model::Symbol* Symbol(std::string_view name) {
    for (model::Symbol& symbol : model.symbols.symbols) {
      if (symbol.name == name) return &symbol;
    }
    return nullptr;
  }

  void RemoveSymbol(std::string_view name) {
    std::erase_if(model.symbols.symbols,
                  [name](const model::Symbol& symbol) { return symbol.name == name; });
  }

  // The record type behind a type name ("QX_TASK", "struct QX_OBJECT_STRUCT").
  model::TypeInfo* Record(std::string_view name) {
    model::TypeId type = 0;
    if (!model::FindTypeByName(model.types, name, &type)) return nullptr;
    return &model.types.types[model::ResolveTypedefs(model.types, type)];
  }

  // Renames a direct member so that expressions naming it no longer evaluate.
  void HideMember(std::string_view typeName, std::string_view member) {
    model::TypeInfo* record = Record(typeName);
    ASSERT_NE(record, nullptr) << typeName;
    for (model::TypeMember& entry : record->members) {
      if (entry.name == member) entry.name += "_hidden";
    }
  }

  bool WriteWord(std::uint32_t address, std::uint32_t size, std::uint64_t value) {
    return model::MemoryWriteValue(&model.memory, address, size, value);
  }

  model::TargetModel model;
  std::unique_ptr<DbgSession> session;
  OSA_ServiceCntx context;
};

}  // namespace kernel_test
