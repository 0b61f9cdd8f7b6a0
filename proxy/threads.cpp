// Thread snapshots and the thread packets' texts (see threads.h).
#include "proxy/threads.h"

#include <algorithm>
#include <set>

#include "rsp/packet.h"

namespace {

void AppendXmlEscaped(std::string_view text, std::string* out) {
  for (const char c : text) {
    switch (c) {
      case '<':
        out->append("&lt;");
        break;
      case '>':
        out->append("&gt;");
        break;
      case '&':
        out->append("&amp;");
        break;
      case '"':
        out->append("&quot;");
        break;
      case '\'':
        out->append("&apos;");
        break;
      default:
        // Control bytes are not allowed in XML 1.0: show them as '?'.
        out->push_back(static_cast<unsigned char>(c) < 0x20 && c != '\t' ? '?' : c);
    }
  }
}

bool ParseHex(std::string_view text, std::uint64_t* value) {
  return RspParseHexNumber(text, value);
}

}  // namespace

ProxyThreadSnapshot ProxyCpuSnapshot(std::string_view why) {
  ProxyThreadSnapshot snapshot;
  snapshot.tasks = false;
  snapshot.running = kProxyCpuThread;
  snapshot.why = why;
  ProxyThread cpu;
  cpu.id = kProxyCpuThread;
  cpu.name = "CPU";
  cpu.state = why.empty() ? std::string("Running") : "Running (" + std::string(why) + ")";
  snapshot.threads.push_back(std::move(cpu));
  return snapshot;
}

ProxyThreadSnapshot ProxyTaskSnapshot(std::vector<ProxyThread> tasks, std::uint64_t running) {
  ProxyThreadSnapshot snapshot;
  snapshot.tasks = true;
  snapshot.running = running;
  std::set<std::uint64_t> seen;
  const auto found = std::find_if(tasks.begin(), tasks.end(),
                                  [&](const ProxyThread& task) { return task.id == running; });
  if (running != 0) {
    if (found != tasks.end()) {
      snapshot.threads.push_back(*found);
    } else {
      ProxyThread task;
      task.id = running;
      task.state = "Running";
      snapshot.threads.push_back(std::move(task));
    }
    seen.insert(running);
  }
  for (ProxyThread& task : tasks) {
    if (task.id == 0 || !seen.insert(task.id).second) continue;
    snapshot.threads.push_back(std::move(task));
  }
  if (snapshot.threads.empty()) return ProxyCpuSnapshot("no task found");
  // A list without a known running task still needs a current thread.
  if (running == 0) snapshot.running = snapshot.threads.front().id;
  return snapshot;
}

const ProxyThread* ProxyFindThread(const ProxyThreadSnapshot& snapshot, std::uint64_t id) {
  for (const ProxyThread& thread : snapshot.threads) {
    if (thread.id == id) return &thread;
  }
  return nullptr;
}

std::string ProxyThreadText(const ProxyThread& thread) {
  std::string text = thread.state.empty() ? std::string("?") : thread.state;
  if (!thread.pendedOn.empty() && thread.pendedOn != "-") text += " on " + thread.pendedOn;
  return text;
}

std::string ProxyThreadsXml(const ProxyThreadSnapshot& snapshot) {
  std::string xml = "<?xml version=\"1.0\"?>\n<threads>\n";
  for (const ProxyThread& thread : snapshot.threads) {
    xml.append("<thread id=\"");
    xml.append(RspHexNumber(thread.id));
    xml.append("\" core=\"0\"");
    if (!thread.name.empty()) {
      xml.append(" name=\"");
      AppendXmlEscaped(thread.name, &xml);
      xml.append("\"");
    }
    xml.append(">");
    AppendXmlEscaped(ProxyThreadText(thread), &xml);
    xml.append("</thread>\n");
  }
  xml.append("</threads>\n");
  return xml;
}

std::string ProxyThreadInfoReply(const ProxyThreadSnapshot& snapshot) {
  std::string reply = "m";
  for (const ProxyThread& thread : snapshot.threads) {
    if (reply.size() > 1) reply.push_back(',');
    reply.append(RspHexNumber(thread.id));
  }
  return reply;
}

std::string ProxyXferSlice(std::string_view document, std::uint64_t offset, std::uint64_t length) {
  if (offset >= document.size()) return "l";
  const std::string_view part = document.substr(offset, length);
  const bool last = offset + part.size() >= document.size();
  return (last ? "l" : "m") + std::string(part);
}

bool ProxyParseXferRead(std::string_view request, std::string* annex, std::uint64_t* offset,
                        std::uint64_t* length) {
  const std::size_t colon = request.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view range = request.substr(colon + 1);
  const std::size_t comma = range.find(',');
  std::uint64_t at = 0;
  std::uint64_t count = 0;
  if (comma == std::string_view::npos || !ParseHex(range.substr(0, comma), &at) ||
      !ParseHex(range.substr(comma + 1), &count)) {
    return false;
  }
  *annex = std::string(request.substr(0, colon));
  *offset = at;
  *length = count;
  return true;
}

bool ProxyParseThreadRef(std::string_view text, ProxyThreadRef* ref) {
  RspThreadId id;
  if (!RspParseThreadId(text, &id)) return false;
  ProxyThreadRef parsed;
  // "pPID" alone names every thread of the process.
  const bool processOnly = id.hasPid && text.find('.') == std::string_view::npos;
  if (processOnly || id.tid == kRspAllThreads) {
    parsed.kind = ProxyThreadRefKind::kAll;
  } else if (id.tid == kRspAnyThread) {
    parsed.kind = ProxyThreadRefKind::kAny;
  } else {
    parsed.kind = ProxyThreadRefKind::kThread;
    parsed.id = static_cast<std::uint64_t>(id.tid);
  }
  *ref = parsed;
  return true;
}

bool ProxyParseVCont(std::string_view actions, std::vector<ProxyResumeAction>* parsed) {
  std::vector<ProxyResumeAction> read;
  while (!actions.empty()) {
    const std::size_t semicolon = actions.find(';');
    const std::string_view item = actions.substr(0, semicolon);
    actions =
        semicolon == std::string_view::npos ? std::string_view() : actions.substr(semicolon + 1);
    if (item.empty()) return false;
    ProxyResumeAction action;
    action.action = item[0];
    std::string_view rest = item.substr(1);
    const std::size_t colon = rest.find(':');
    const std::string_view argument = rest.substr(0, colon);
    switch (action.action) {
      case 'c':
      case 's':
      case 't':
        if (!argument.empty()) return false;
        break;
      case 'C':
      case 'S':
      case 'r':
        if (argument.empty()) return false;
        action.argument = std::string(argument);
        break;
      default:
        return false;
    }
    action.thread.kind = ProxyThreadRefKind::kAll;
    if (colon != std::string_view::npos &&
        !ProxyParseThreadRef(rest.substr(colon + 1), &action.thread)) {
      return false;
    }
    read.push_back(std::move(action));
  }
  if (read.empty()) return false;
  *parsed = std::move(read);
  return true;
}

std::string ProxyCheckResume(const ProxyThreadSnapshot& snapshot,
                             const std::vector<ProxyResumeAction>& actions) {
  for (const ProxyResumeAction& action : actions) {
    if (action.thread.kind != ProxyThreadRefKind::kThread) continue;
    if (action.thread.id == snapshot.running) continue;
    const ProxyThread* thread = ProxyFindThread(snapshot, action.thread.id);
    const bool stepping = action.action == 's' || action.action == 'S' || action.action == 'r';
    std::string who = "thread " + RspHexNumber(action.thread.id);
    if (thread != nullptr && !thread->name.empty()) who += " (" + thread->name + ")";
    if (thread == nullptr) return who + " is not known";
    return who + " is not running (" + ProxyThreadText(*thread) + "): only the running task can " +
           (stepping ? "be stepped" : "be resumed alone") + "; switch to thread " +
           RspHexNumber(snapshot.running) + " first";
  }
  return "";
}

std::string ProxyRewriteStopReply(std::string_view reply, std::uint64_t thread) {
  if (reply.empty()) return std::string(reply);
  const std::string field = "thread:" + RspHexNumber(thread) + ";";
  if (reply[0] == 'S' && reply.size() >= 3) {
    return "T" + std::string(reply.substr(1, 2)) + field;
  }
  if (reply[0] != 'T' || reply.size() < 3) return std::string(reply);
  std::string out = "T" + std::string(reply.substr(1, 2));
  std::string_view rest = reply.substr(3);
  bool placed = false;
  while (!rest.empty()) {
    const std::size_t semicolon = rest.find(';');
    const std::string_view item = rest.substr(0, semicolon);
    rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
    if (item.empty()) continue;
    if (item.starts_with("thread:")) {
      out.append(field);
      placed = true;
      continue;
    }
    out.append(item);
    out.push_back(';');
  }
  if (!placed) out.append(field);
  return out;
}
