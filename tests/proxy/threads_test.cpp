// Tests of thread snapshots and the thread packets answered from them.
#include "proxy/threads.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ProxyThread Task(std::uint64_t id, std::string name, std::string state, std::string pended = "") {
  ProxyThread task;
  task.id = id;
  task.name = std::move(name);
  task.state = std::move(state);
  task.pendedOn = std::move(pended);
  return task;
}

ProxyThreadSnapshot ThreeTasks() {
  return ProxyTaskSnapshot({Task(0x20000100, "idle", "Ready"), Task(0x20000200, "main", "Running"),
                            Task(0x20000300, "rx<&>", "Pended (queue)", "rx_queue")},
                           0x20000200);
}

TEST(ProxyThreads, RunningTaskComesFirstAndDuplicatesGo) {
  const ProxyThreadSnapshot snapshot =
      ProxyTaskSnapshot({Task(1, "a", "Ready"), Task(0, "zero", "Ready"), Task(2, "b", "Running"),
                         Task(1, "again", "Ready")},
                        2);
  ASSERT_EQ(2u, snapshot.threads.size());
  EXPECT_TRUE(snapshot.tasks);
  EXPECT_EQ(2u, snapshot.threads[0].id);
  EXPECT_EQ(1u, snapshot.threads[1].id);
  EXPECT_EQ("a", snapshot.threads[1].name);
}

TEST(ProxyThreads, RunningTaskMissingFromTheListIsAdded) {
  const ProxyThreadSnapshot snapshot = ProxyTaskSnapshot({Task(1, "a", "Ready")}, 7);
  ASSERT_EQ(2u, snapshot.threads.size());
  EXPECT_EQ(7u, snapshot.threads[0].id);
  EXPECT_EQ(7u, snapshot.running);
}

TEST(ProxyThreads, NoTasksGiveTheOneCpuThread) {
  const ProxyThreadSnapshot snapshot = ProxyTaskSnapshot({}, 0);
  EXPECT_FALSE(snapshot.tasks);
  ASSERT_EQ(1u, snapshot.threads.size());
  EXPECT_EQ(kProxyCpuThread, snapshot.running);
  EXPECT_EQ("mp1", "mp" + ProxyThreadInfoReply(snapshot).substr(1));
  const ProxyThreadSnapshot cpu = ProxyCpuSnapshot("the kernel has not started");
  EXPECT_EQ("Running (the kernel has not started)", ProxyThreadText(cpu.threads[0]));
}

TEST(ProxyThreads, PacketsListEveryThreadEscaped) {
  const ProxyThreadSnapshot snapshot = ThreeTasks();
  EXPECT_EQ("m20000200,20000100,20000300", ProxyThreadInfoReply(snapshot));
  EXPECT_EQ(
      "<?xml version=\"1.0\"?>\n<threads>\n"
      "<thread id=\"20000200\" core=\"0\" name=\"main\">Running</thread>\n"
      "<thread id=\"20000100\" core=\"0\" name=\"idle\">Ready</thread>\n"
      "<thread id=\"20000300\" core=\"0\" name=\"rx&lt;&amp;&gt;\">Pended (queue) on "
      "rx_queue</thread>\n"
      "</threads>\n",
      ProxyThreadsXml(snapshot));
  EXPECT_EQ(nullptr, ProxyFindThread(snapshot, 0x20000400));
  ASSERT_NE(nullptr, ProxyFindThread(snapshot, 0x20000300));
  EXPECT_EQ("?", ProxyThreadText(Task(1, "", "")));
}

TEST(ProxyThreads, XferSlices) {
  struct Case {
    std::uint64_t offset;
    std::uint64_t length;
    const char* expected;
  };
  const Case cases[] = {
      {0, 3, "mabc"}, {0, 10, "labcdef"}, {3, 3, "ldef"}, {4, 1, "me"}, {6, 5, "l"}, {99, 1, "l"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, ProxyXferSlice("abcdef", c.offset, c.length)) << c.offset;
  }
  std::string annex;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  ASSERT_TRUE(ProxyParseXferRead("target.xml:1a,ffb", &annex, &offset, &length));
  EXPECT_EQ("target.xml", annex);
  EXPECT_EQ(0x1au, offset);
  EXPECT_EQ(0xffbu, length);
  ASSERT_TRUE(ProxyParseXferRead(":0,1000", &annex, &offset, &length));
  EXPECT_EQ("", annex);
  EXPECT_FALSE(ProxyParseXferRead("target.xml:0", &annex, &offset, &length));
  EXPECT_FALSE(ProxyParseXferRead("target.xml:x,1", &annex, &offset, &length));
}

TEST(ProxyThreads, ThreadRefs) {
  struct Case {
    const char* text;
    bool ok;
    ProxyThreadRefKind kind;
    std::uint64_t id;
  };
  const Case cases[] = {
      {"-1", true, ProxyThreadRefKind::kAll, 0},
      {"0", true, ProxyThreadRefKind::kAny, 0},
      {"2000036c", true, ProxyThreadRefKind::kThread, 0x2000036c},
      {"p1.2000036c", true, ProxyThreadRefKind::kThread, 0x2000036c},
      {"p1.-1", true, ProxyThreadRefKind::kAll, 0},
      {"p1", true, ProxyThreadRefKind::kAll, 0},
      {"p0.0", true, ProxyThreadRefKind::kAny, 0},
      {"", false, ProxyThreadRefKind::kAny, 0},
      {"xyz", false, ProxyThreadRefKind::kAny, 0},
  };
  for (const Case& c : cases) {
    ProxyThreadRef ref;
    ASSERT_EQ(c.ok, ProxyParseThreadRef(c.text, &ref)) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(c.kind, ref.kind) << c.text;
    EXPECT_EQ(c.id, ref.id) << c.text;
  }
}

TEST(ProxyThreads, VContActions) {
  std::vector<ProxyResumeAction> actions;
  ASSERT_TRUE(ProxyParseVCont("s:20000200;c", &actions));
  ASSERT_EQ(2u, actions.size());
  EXPECT_EQ('s', actions[0].action);
  EXPECT_EQ(ProxyThreadRefKind::kThread, actions[0].thread.kind);
  EXPECT_EQ(0x20000200u, actions[0].thread.id);
  EXPECT_EQ('c', actions[1].action);
  EXPECT_EQ(ProxyThreadRefKind::kAll, actions[1].thread.kind);
  ASSERT_TRUE(ProxyParseVCont("C05:p1.1", &actions));
  EXPECT_EQ("05", actions[0].argument);
  for (const char* bad : {"", ";", "q", "s:zz", "C", "c05", "s;;c"}) {
    EXPECT_FALSE(ProxyParseVCont(bad, &actions)) << bad;
  }
}

TEST(ProxyThreads, ResumeOfAThreadThatIsNotRunningIsRefused) {
  const ProxyThreadSnapshot snapshot = ThreeTasks();
  struct Case {
    const char* actions;
    const char* refusal;  // "" when allowed
  };
  const Case cases[] = {
      {"c", ""},
      {"s:20000200;c", ""},
      {"c:-1", ""},
      {"s:20000300;c",
       "thread 20000300 (rx<&>) is not running (Pended (queue) on rx_queue): only the running "
       "task can be stepped; switch to thread 20000200 first"},
      {"c:20000100",
       "thread 20000100 (idle) is not running (Ready): only the running task can be resumed "
       "alone; switch to thread 20000200 first"},
      {"s:9", "thread 9 is not known"},
  };
  for (const Case& c : cases) {
    std::vector<ProxyResumeAction> actions;
    ASSERT_TRUE(ProxyParseVCont(c.actions, &actions)) << c.actions;
    EXPECT_EQ(c.refusal, ProxyCheckResume(snapshot, actions)) << c.actions;
  }
}

TEST(ProxyThreads, StopRepliesNameTheThread) {
  const std::pair<const char*, const char*> cases[] = {
      {"T05thread:p01.01;", "T05thread:2a;"},
      {"T05thread:01;swbreak:;", "T05thread:2a;swbreak:;"},
      {"T020d:00100020;", "T020d:00100020;thread:2a;"},
      {"S05", "T05thread:2a;"},
      {"T05", "T05thread:2a;"},
      {"W00", "W00"},
      {"X09", "X09"},
      {"", ""},
  };
  for (const auto& [upstream, expected] : cases) {
    EXPECT_EQ(expected, ProxyRewriteStopReply(upstream, 0x2a)) << upstream;
  }
}

}  // namespace
