// The GDB side of the proxy: receiving GDB's requests (acked unless no-ack
// mode was agreed), sending replies, retransmitting the last reply on `-`,
// and telling the caller of a 0x03 interrupt.
#pragma once

#include <string>
#include <string_view>

#include "rsp/channel.h"
#include "rsp/link.h"

struct RspServer {
  RspChannel channel;
  // Oversize requests are acked and answered with this error reply (GDB
  // shows it) so that GDB does not retransmit a packet we cannot hold.
  std::string oversizeReply = "E16";
};

// Sets up the server over `link` (taken). GDB's requests are not
// run-length expanded: a `*` in them is data.
void RspServerInit(RspLink link, RspServer* server);

// The reason of the last failure.
[[nodiscard]] const std::string& RspServerError(const RspServer& server);

enum class RspRequestKind {
  kPacket,     // a request; its payload is in *payload
  kInterrupt,  // GDB sent 0x03 outside a packet
};

// Waits up to timeoutMs (< 0: for ever) for GDB's next request or
// interrupt. Handles the rest itself: acks a good packet with `+` (unless
// no-ack), answers a bad one with `-`, retransmits the last reply on `-`,
// skips `+` and junk, and answers an oversize packet with oversizeReply.
// kClosed when GDB went away.
[[nodiscard]] RspStatus RspServerReceive(RspServer* server, int timeoutMs, RspRequestKind* kind,
                                         std::string* payload);

// Sends a reply (or an asynchronous stop reply) packet; it is kept for a
// retransmit. The server does not wait for GDB's `+`: it is skipped on the
// next receive.
[[nodiscard]] RspStatus RspServerReply(RspServer* server, std::string_view payload);

// Turns no-ack mode on or off. Call it with true right after replying OK to
// GDB's QStartNoAckMode (GDB still acks that OK; the `+` is skipped).
void RspServerSetNoAck(RspServer* server, bool noAck);
