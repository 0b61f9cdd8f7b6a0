// A packet endpoint over a link: the decoder and its unread input, the
// last packet sent (for a retransmit), counters, an optional delay per
// packet, and a wait on several endpoints at once. Both the upstream client
// and the GDB-side server are built on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "rsp/link.h"
#include "rsp/packet.h"

struct RspCounters {
  std::uint64_t packetsSent = 0;      // packets framed and written (retransmits included)
  std::uint64_t retransmits = 0;      // of those, repeats of the last packet
  std::uint64_t bytesSent = 0;        // every byte written: packets, acks, 0x03
  std::uint64_t packetsReceived = 0;  // good packets decoded
  std::uint64_t badPackets = 0;       // bad checksum, malformed or oversize
  std::uint64_t bytesReceived = 0;    // every byte read
};

struct RspChannel {
  RspLink link;
  RspDecoder decoder;
  std::string input;  // bytes read but not fed to the decoder yet
  std::size_t inputPos = 0;
  // A packet already taken from the stream but not handed out yet (a stop
  // reply that came before the ack of its resuming packet). It counts as
  // buffered, so a wait on the channel returns at once.
  bool hasPending = false;
  std::string pending;
  bool noAck = false;      // no `+`/`-` are sent or expected
  std::string lastPacket;  // the last packet framed, for a retransmit
  RspCounters counters;
  int delayMs = 0;  // sleep before each packet sent (a slow probe)
  int writeTimeoutMs = 10000;
  // When set, each packet sent and received is written to stderr as a line
  // "<traceName> -> payload" / "<traceName> <- payload" (non-printable
  // bytes as \xNN, long payloads cut).
  bool trace = false;
  std::string traceName;
  std::string error;  // the reason of the last failure
};

// Sets up a channel over `link` (taken). expandRle: the peer's packets
// may be run-length encoded (replies from a stub).
void RspChannelInit(RspLink link, bool expandRle, RspChannel* channel);

// The next event from the peer, reading the link as needed for up to
// timeoutMs (< 0: for ever; 0: only what is already buffered or readable
// now). Counts bytes and good/bad packets. Failures set channel->error.
[[nodiscard]] RspStatus RspChannelNextEvent(RspChannel* channel, int timeoutMs, RspEvent* event);

// Frames `payload`, remembers it as the last packet and writes it, after
// the channel's delay. Does not wait for an ack.
[[nodiscard]] RspStatus RspChannelSendPacket(RspChannel* channel, std::string_view payload);

// Writes the last packet again (the peer answered `-`).
[[nodiscard]] RspStatus RspChannelRetransmit(RspChannel* channel);

// Writes raw bytes: `+`, `-`, or the 0x03 interrupt. No delay.
[[nodiscard]] RspStatus RspChannelSendRaw(RspChannel* channel, std::string_view bytes);

// True when a pending packet waits, or bytes were read but not decoded yet
// (the next RspChannelNextEvent may complete an event without reading).
// After a receive that timed out nothing is buffered, so a wait loop does
// not spin.
[[nodiscard]] bool RspChannelHasBuffered(const RspChannel& channel);

// Waits until one of `count` channels has buffered bytes or a readable link
// (bytes, end of input or an error to report); *ready is its index. Then
// call that channel's receive with timeout 0. kTimeout when none is ready
// within timeoutMs (< 0: for ever). The proxy waits on GDB and the upstream
// with it while the target runs.
[[nodiscard]] RspStatus RspWaitChannels(RspChannel* const* channels, std::size_t count,
                                        int timeoutMs, std::size_t* ready, std::string* error);
