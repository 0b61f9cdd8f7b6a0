// A debugger session with the linked plug-in against a model kernel of one
// build variant, for the attribute and task-status tests: the session is set
// up through OsaInit and TargetInit, the model's memory can be changed
// between requests, and the plug-in's KernelContext can be looked at.
#pragma once

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/client_calls.h"
#include "debugger/session.h"
#include "kernel/attributes.h"
#include "kernel/kernel_context.h"
#include "kernel/task_status.h"
#include "model/kernel_builder.h"
#include "model/target_model.h"
#include "osa/context.h"

namespace attributes_test {

inline constexpr std::int64_t kContext = 1;

class KernelSessionTest : public testing::Test {
 protected:
  void TearDown() override { Close(); }

  // Builds the variant and brings the plug-in up to a successful TargetInit.
  void Open(std::string_view variant) {
    Close();
    std::string error;
    ASSERT_TRUE(model::BuildKernelModel(variant, &model_, &error)) << variant << ": " << error;
    DbgSessionOptions options;
    options.transport = DbgTransport::kInProcess;
    ASSERT_TRUE(DbgSessionOpen(options, &model_, &session_, &error)) << error;
    DbgOsaInitAnswer init;
    ASSERT_EQ(DbgOsaInit(session_.get(), kContext, &init), 0) << session_->lastError;
    DbgTargetInitAnswer target;
    ASSERT_EQ(DbgTargetInit(session_.get(), kContext, model_.manifest.bigEndian, &target), 0)
        << variant << ": " << session_->lastError;
  }

  void Close() {
    if (session_ == nullptr) return;
    (void)DbgTargetCleanup(session_.get(), kContext);
    (void)DbgOsaCleanup(session_.get(), kContext);
    DbgSessionClose(session_.get());
    session_.reset();
  }

  DbgSession* S() { return session_.get(); }
  const model::KernelManifest& M() const { return model_.manifest; }

  // The plug-in's record of the target (in-process sessions only).
  KernelContext* Kernel() {
    OSA_ServiceCntx* context = OsaContextFind(kContext);
    return context == nullptr ? nullptr : KernelContextOf(context->privateData.get());
  }

  std::uint64_t Evaluate(const std::string& expression) {
    std::uint64_t value = 0;
    std::string error;
    EXPECT_TRUE(model::ModelEvaluate(model_, expression, &value, &error))
        << expression << ": " << error;
    return value;
  }

  // Writes one member of a target object in the target's byte order; members
  // of 8 bytes are two words, the low one first.
  void WriteMember(const char* typeName, std::uint32_t object, const char* member,
                   std::uint64_t value) {
    char expression[256];
    std::snprintf(expression, sizeof expression, "&((%s *)%u)->%s", typeName, object, member);
    const std::uint64_t address = Evaluate(expression);
    std::snprintf(expression, sizeof expression, "sizeof(((%s *)%u)->%s)", typeName, object,
                  member);
    const std::uint64_t size = Evaluate(expression);
    ASSERT_TRUE(size == 1 || size == 2 || size == 4 || size == 8) << member << " " << size;
    const std::uint64_t elementSize = size > 4 ? 4 : size;
    for (std::uint64_t element = 0; element < size / elementSize; ++element) {
      const std::uint64_t part = value >> (32 * element);
      std::uint8_t bytes[4] = {};
      for (std::uint64_t i = 0; i < elementSize; ++i) {
        const std::uint64_t shift = model_.manifest.bigEndian ? 8 * (elementSize - 1 - i) : 8 * i;
        bytes[i] = static_cast<std::uint8_t>(part >> shift);
      }
      ASSERT_TRUE(
          model::ModelMemoryWrite(&model_, address + element * elementSize, elementSize, bytes));
    }
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const DbgDisplayedMessage& message : session_->service.messages) {
      texts.push_back(message.text);
    }
    return texts;
  }

  model::TargetModel model_;
  std::unique_ptr<DbgSession> session_;
};

// The types under which a kernel's tasks, timers and mutexes are shown.
inline std::int32_t TaskType(const model::KernelManifest& m) {
  return m.pendIsList ? 9 : 1;
}
inline std::int32_t TimerType(const model::KernelManifest& m) {
  return m.pendIsList ? 10 : 2;
}
inline std::int32_t MutexType(const model::KernelManifest& m) {
  return m.pendIsList ? 11 : 3;
}

inline std::string Hex(std::uint64_t x) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%" PRIx64, x);
  return text;
}

inline const model::ManifestTask* FindTask(const model::KernelManifest& m, std::uint64_t address) {
  for (const model::ManifestTask& task : m.tasks) {
    if (task.address == address) return &task;
  }
  return nullptr;
}

inline const model::ManifestObject* FindObject(const model::KernelManifest& m,
                                               std::uint64_t address) {
  for (const model::ManifestObject& object : m.objects) {
    if (object.address == address) return &object;
  }
  return nullptr;
}

inline std::uint64_t Field(const model::ManifestObject& object, std::string_view name) {
  const model::ManifestField* field = model::FindManifestField(object, name);
  EXPECT_NE(field, nullptr) << object.name << ": no field " << name;
  return field == nullptr ? 0 : field->value;
}

}  // namespace attributes_test
