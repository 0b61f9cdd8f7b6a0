// Names the naming rule in .clang-tidy must accept, and names it must reject
// (each rejected one is on a line marked "bad"). Checked, never compiled, by
// scripts/check_naming.sh --self-test.
#include <cstdint>
#include <string_view>

#define SAMPLE_LIMIT 4
#define sampleLimit 4  // bad

namespace sample_names {
namespace BadSpace {  // bad
}  // namespace BadSpace

enum class ObjectKind { kTask, kTimer, Queue };  // bad
enum JsonKind { JsonNull, JsonBoolean };
enum class wait_mode { kWhole };  // bad

constexpr int kMaxTasks = 8;
constexpr int maxTimers = 8;  // bad
constexpr std::uint8_t JsonEscapeTable[2] = {0, 1};
const int kSlotCount = 38;
const int slotLimit = 38;  // bad
int gOpenCount = 0;
int openTotal = 0;  // bad

struct TaskRow {
  int stackSize;
  int stack_end;  // bad
};
struct OSA_ServiceCntx;
struct task_frame {};  // bad
using RowList = TaskRow*;
using row_ptr = TaskRow*;  // bad

class Fixture {
 protected:
  int openCount = 0;
  int closed_ = 0;  // bad
};

class Scope {
 public:
  int Depth() const { return depth_ + spare; }
  int depth() const { return depth_; }  // bad
  std::size_t size() const { return 0; }
  int spare = 0;

 private:
  int depth_ = 0;
  int width = 0;  // bad
};

template <typename Item, auto kCallback>
int Apply(Item item) {
  return kCallback(item);
}
template <auto callback>  // bad
int Call() {
  return callback();
}

int ReadTask(int taskIndex, std::string_view name) {
  constexpr int kStep = 2;
  const int firstSlot = taskIndex * kStep;
  int last_slot = firstSlot + 1;  // bad
  return last_slot + static_cast<int>(name.size());
}
int read_timer(int index);  // bad
int ReadMutex(int Index);   // bad
int OSA_Client_OsaInit(int context);
int OSA__JSON__Write(int context);
int KernelOsaCmd_Execute(int context);
int Kernel_Poll(int context);  // bad
}  // namespace sample_names
