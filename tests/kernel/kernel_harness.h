// The harness of the kernel-awareness tests: a model kernel answered by the
// model debugger in this process. Kernel functions can be called directly
// with the fixture's own service context, or the linked plug-in driven over
// the debugger's client calls. Requests are recorded, shown messages
// collected, and helpers change the model the way a broken or unusual kernel
// build would.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/client_calls.h"
#include "debugger/session.h"
#include "kernel/discovery.h"
#include "kernel/kernel_context.h"
#include "kernel/kernel_status.h"
#include "model/kernel_builder.h"
#include "model/target_memory.h"
#include "model/target_model.h"
#include "osa/context.h"
#include "osa/plugin_api.h"

// Failed expectations show a status as its number.
inline void PrintTo(KernelStatus status, std::ostream* os) {
  *os << "KernelStatus " << InterfaceStatus(status);
}

namespace kernel_test {

inline constexpr std::int64_t kContext = 1;
inline constexpr std::uint32_t kUnmapped = 0xFFFFFF00;  // no model target maps it

using Texts = std::vector<std::string>;

inline std::string Hex(std::uint64_t x) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIx64, x);
  return text;
}

inline std::string VariantName(const testing::TestParamInfo<std::string_view>& info) {
  std::string name(info.param);
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

class ModelTarget : public testing::Test {
 public:
  void TearDown() override { Close(); }

  // Builds a kernel of `variant` and opens the debugger on it.
  [[nodiscard]] bool Open(std::string_view variant) {
    Close();
    std::string error;
    if (!model::BuildKernelModel(variant, &model, &error)) {
      ADD_FAILURE() << variant << ": " << error;
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

  // Opens `variant` and brings the linked plug-in through OsaInit and
  // TargetInit as the debugger does.
  [[nodiscard]] bool Start(std::string_view variant) { return Open(variant) && StartPlugin(); }
  [[nodiscard]] bool StartPlugin() {
    DbgOsaInitAnswer osa;
    DbgTargetInitAnswer target;
    started = DbgOsaInit(session.get(), kContext, &osa) == 0;
    if (!started ||
        DbgTargetInit(session.get(), kContext, model.manifest.bigEndian, &target) != 0) {
      ADD_FAILURE() << session->lastError << testing::PrintToString(Messages());
      return false;
    }
    return true;
  }

  void Close() {
    context.privateData.reset();
    if (session == nullptr) return;
    if (started) {
      (void)DbgTargetCleanup(session.get(), kContext);
      (void)DbgOsaCleanup(session.get(), kContext);
    }
    (void)DbgSessionClose(session.get());
    session.reset();
    started = false;
  }

  DbgSession* S() { return session.get(); }
  // The plug-in's service record and its record of the target.
  OSA_ServiceCntx* Plugin() { return OsaContextFind(kContext); }
  KernelContext* Kernel() {
    OSA_ServiceCntx* plugin = Plugin();
    return plugin == nullptr ? nullptr : KernelContextOf(plugin->privateData.get());
  }

  // Runs TargetInit on the fixture's own context; the new record or null.
  KernelContext* TargetInit(std::int32_t* status) {
    *status = InterfaceStatus(KernelTargetInit(&context, &context.info, &context.privateData));
    return KernelContextOf(context.privateData.get());
  }

  // The texts the plug-in asked the debugger to show, in order.
  Texts Messages() const {
    Texts texts;
    for (const DbgDisplayedMessage& message : session->service.messages) {
      texts.push_back(message.text);
    }
    return texts;
  }

  // The requests sent since the last Forget() that contain `part`.
  Texts RequestsWith(std::string_view part) const {
    Texts found;
    std::string_view record = session->record;
    constexpr std::string_view kTag = "PLUGIN: ";
    while (!record.empty()) {
      const std::size_t end = std::min(record.find('\n'), record.size());
      const std::string_view line = record.substr(0, end);
      if (line.starts_with(kTag) && line.find(part) != std::string_view::npos) {
        found.emplace_back(line.substr(kTag.size()));
      }
      record.remove_prefix(std::min(end + 1, record.size()));
    }
    return found;
  }

  void Forget() {
    session->record.clear();
    session->service.messages.clear();
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

  bool WriteWord(std::uint64_t address, std::uint32_t size, std::uint64_t value) {
    return model::MemoryWriteValue(&model.memory, address, size, value);
  }

  std::uint64_t Evaluate(const std::string& expression) {
    std::uint64_t value = 0;
    std::string error;
    EXPECT_TRUE(model::ModelEvaluate(model, expression, &value, &error))
        << expression << ": " << error;
    return value;
  }

  // Writes one member of a target object; members of 8 bytes are two words,
  // the low one first.
  void WriteMember(const std::string& typeName, std::uint64_t object, const std::string& member,
                   std::uint64_t value) {
    const std::string path = "((" + typeName + " *)" + std::to_string(object) + ")->" + member;
    const std::uint64_t address = Evaluate("&" + path);
    const std::uint64_t size = Evaluate("sizeof(" + path + ")");
    ASSERT_TRUE(size == 1 || size == 2 || size == 4 || size == 8) << member << " " << size;
    const std::uint32_t word = size > 4 ? 4 : static_cast<std::uint32_t>(size);
    for (std::uint64_t at = 0; at < size; at += word) {
      ASSERT_TRUE(WriteWord(address + at, word, value >> (8 * at)));
    }
  }

  const model::ManifestTask& TaskNamed(std::string_view name) const {
    for (const model::ManifestTask& task : model.manifest.tasks) {
      if (task.name == name || (name.empty() && task.running)) return task;
    }
    ADD_FAILURE() << "no task " << name;
    return model.manifest.tasks.front();
  }
  const model::ManifestObject& ObjectNamed(std::string_view name) const {
    for (const model::ManifestObject& object : model.manifest.objects) {
      if (object.name == name) return object;
    }
    ADD_FAILURE() << "no object " << name;
    return model.manifest.objects.front();
  }

  model::TargetModel model;
  std::unique_ptr<DbgSession> session;
  OSA_ServiceCntx context;
  bool started = false;
};

}  // namespace kernel_test
