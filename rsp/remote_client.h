// The upstream side of the proxy: requests to a real gdbserver and their
// replies (acks, retransmits, timeouts), qSupported negotiation and no-ack
// mode, and resuming the target while GDB may interrupt it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "rsp/channel.h"
#include "rsp/link.h"

struct RspRemoteOptions {
  int ackTimeoutMs = 2000;     // for the `+` after each packet we send
  int replyTimeoutMs = 10000;  // for the reply packet after the `+`
  int maxRetransmits = 3;      // of a request nacked (or not acked in time),
                               // and `-` we send for bad replies
  int delayMs = 0;             // artificial delay before each packet sent
};

// One entry of a qSupported list: "name+", "name-", "name?" or "name=value".
struct RspFeature {
  std::string name;
  char support = '+';  // '+', '-', '?', or '=' with a value
  std::string value;
};

// What the upstream offered in its qSupported reply.
struct RspRemoteFeatures {
  std::size_t packetSize = 0;  // PacketSize (0 when not given)
  bool noAckMode = false;      // QStartNoAckMode+
  bool xferFeatures = false;   // qXfer:features:read+
  bool xferThreads = false;    // qXfer:threads:read+
  bool vcont = false;          // vContSupported+
  bool multiprocess = false;   // multiprocess+ (see RspRemoteNegotiate)
  bool swbreak = false;
  bool hwbreak = false;
  std::vector<RspFeature> all;  // every entry, in order
  std::string reply;            // the reply as received
};

struct RspRemote {
  RspChannel channel;
  RspRemoteOptions options;
  RspRemoteFeatures features;  // filled by RspRemoteNegotiate
  bool running = false;        // resumed, and the stop reply not seen yet
  // Replies that may still come for requests that gave up waiting. None of
  // them may answer a later request: the next request first settles them.
  int lateReplies = 0;  // of requests other than '?', one each
  int lateStops = 0;    // stop replies: of '?' requests and of the probe
  // Set when what may still come cannot be counted (a request sent again
  // after a quiet wait may be answered twice, a reply came damaged): the
  // next request first sends the probe '?' and drops everything up to its
  // stop reply, since a stub answers in order.
  bool unsettled = false;
  bool probing = false;  // the probe is out and its reply not seen yet
};

// Whether `reply` can be the reply to `request` (see RspRemoteRequestShaped).
using RspReplyFits = bool (*)(std::string_view request, std::string_view reply);

// Sets up the client over `link` (taken); replies are run-length expanded.
void RspRemoteInit(RspLink link, const RspRemoteOptions& options, RspRemote* remote);

// The reason of the last failure, for a message to GDB or the user.
[[nodiscard]] const std::string& RspRemoteError(const RspRemote& remote);

// Sends `request` and waits for its reply: the `+` first (retransmits on
// `-` or when none comes within ackTimeoutMs, at most maxRetransmits
// times), then the reply packet within replyTimeoutMs, acked with `+`
// unless in no-ack mode; a reply with a bad checksum is answered `-` (the
// same bound). Stray bytes and acks are skipped. A packet that arrives
// before the `+` is taken as the reply (some stubs do not ack). kTimeout,
// kClosed, kIoError or kProtocol otherwise, with the reason in RspRemoteError.
// After a failure the next request first settles what may still come (a
// late reply must never answer it): the counted late replies that already
// arrived are dropped, and when that does not account for everything the
// probe '?' is sent and everything up to its stop reply dropped; when the
// probe's reply does not come in replyTimeoutMs the request fails (kTimeout)
// unsent. Refused (kProtocol) while the target runs. Not for resuming
// packets: see RspRemoteResume.
[[nodiscard]] RspStatus RspRemoteRequest(RspRemote* remote, std::string_view request,
                                         std::string* reply);

// RspRemoteRequest where a packet that `fits` rejects (a stop the stub
// announced on its own) is dropped and waiting goes on, at most 4 times,
// within the reply timeout.
[[nodiscard]] RspStatus RspRemoteRequestShaped(RspRemote* remote, std::string_view request,
                                               RspReplyFits fits, std::string* reply);

// Marks the link as owing packets that cannot be counted (a caller that
// gave up waiting for more of a reply): the next request settles first.
void RspRemoteUnsettle(RspRemote* remote);

// Splits a qSupported list ("a+;b-;PacketSize=4000") into entries; empty
// entries are skipped.
void RspParseFeatures(std::string_view list, std::vector<RspFeature>* features);

// The entry named `name`, or null.
[[nodiscard]] const RspFeature* RspFindFeature(const std::vector<RspFeature>& features,
                                               std::string_view name);

// Joins entries back into a qSupported list.
[[nodiscard]] std::string RspJoinFeatures(const std::vector<RspFeature>& features);

// Sends "qSupported:<gdbFeatures>" upstream with `multiprocess+` removed
// (so the upstream answers plain hex thread ids; RspParseThreadId reads the
// pPID.TID form too, should a stub use it anyway), and fills
// remote->features from the reply. When the upstream offers
// QStartNoAckMode, asks for it and switches the channel to no-ack mode on
// its OK. gdbFeatures is what GDB sent after "qSupported:" (may be empty).
[[nodiscard]] RspStatus RspRemoteNegotiate(RspRemote* remote, std::string_view gdbFeatures);

// Sends a resuming packet (`vCont;...`, `c`, `s`, `C..`, `S..`) and waits
// only for its `+` (retransmitting as RspRemoteRequest does); first settles
// late replies as RspRemoteRequest does, so none is taken for the stop. Then the
// target runs until RspRemoteWaitStop returns its stop reply. A stop reply
// that came before the `+` (a stub that does not ack) is kept as the
// channel's pending packet: RspWaitChannels reports the channel ready and
// RspRemoteWaitStop returns it.
[[nodiscard]] RspStatus RspRemoteResume(RspRemote* remote, std::string_view packet);

// Waits up to timeoutMs (< 0: for ever) for the next packet from the
// running target and acks it: a stop reply (`T`, `S`, `W`, `X`), or console
// output (`O` + hex, not "OK"), after which the target still runs and the
// caller waits again. kTimeout when nothing came: the target still runs.
[[nodiscard]] RspStatus RspRemoteWaitStop(RspRemote* remote, int timeoutMs, std::string* reply);

// Sends the raw interrupt byte 0x03 (GDB's Ctrl-C); the stop reply then
// comes through RspRemoteWaitStop.
[[nodiscard]] RspStatus RspRemoteInterrupt(RspRemote* remote);

// Resume and wait in one: sends `packet`, then waits for the stop reply;
// while it waits, `interruptSource` (may be null) is watched too, and
// whenever it has input `onInput(context)` is called; it returns false to
// stop waiting (the status is then kOk with *reply empty, the target still
// running). onInput typically reads GDB's next event and, on 0x03, calls
// RspRemoteInterrupt. For callers that need nothing more elaborate.
[[nodiscard]] RspStatus RspRemoteResumeAndWait(RspRemote* remote, std::string_view packet,
                                               RspChannel* interruptSource,
                                               bool (*onInput)(void* context), void* context,
                                               std::string* reply);
