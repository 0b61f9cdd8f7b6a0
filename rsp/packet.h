// The gdb-remote packet codec: framing with escapes and checksums, a
// resumable decoder of byte chunks, hex helpers and thread-id texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The largest packet body (as received, escaped) and the largest decoded
// payload the decoder accepts: 64 KiB and a margin for escapes and framing.
// Anything longer is skipped and reported as kOversize.
inline constexpr std::size_t kRspMaxPacket = 0x10000 + 1024;

// The raw interrupt byte GDB sends outside any packet while the target runs.
inline constexpr char kRspInterrupt = '\x03';

// The checksum of `bytes` as sent: the sum of the bytes modulo 256.
[[nodiscard]] std::uint8_t RspChecksum(std::string_view bytes);

// Appends `$<escaped payload>#cc` to *out: `#`, `$`, `}` and `*` go out as
// `}` followed by the byte XOR 0x20; cc is the checksum of the escaped bytes
// in two lower-case hex digits. Every other byte (0x03 included) is sent as is.
void RspAppendPacket(std::string_view payload, std::string* out);

// The framed packet of `payload` (see RspAppendPacket).
[[nodiscard]] std::string RspPacket(std::string_view payload);

// What the decoder found in the byte stream.
enum class RspEventKind {
  kPacket,       // a whole packet with a good checksum; payload decoded
  kBadChecksum,  // a whole packet whose checksum does not match: answer `-`
  kMalformed,    // a packet with a good checksum that does not decode (a `}`
                 // at the end, a run-length count out of range, an expansion
                 // past the limit): answer `-`
  kOversize,     // a packet longer than the limit, skipped to its end
  kAck,          // `+` between packets
  kNack,         // `-` between packets
  kInterrupt,    // 0x03 between packets
};

struct RspEvent {
  RspEventKind kind = RspEventKind::kAck;
  // kPacket: the payload, unescaped and (when asked) run-length expanded.
  // kBadChecksum and kMalformed: the body as received. Otherwise empty.
  std::string payload;
};

// A resumable decoder: feed it any chunks of the stream; it keeps the part
// of a packet seen so far. Bytes between packets other than `+`, `-`, 0x03
// and `$` are skipped and counted. A `$` inside a packet body drops the
// packet seen so far (its end was lost) and starts a new one. A body longer
// than maxPacket is not stored: the decoder skips to its `#cc` (or the next
// `$`) and reports kOversize, so memory stays bounded by maxPacket.
struct RspDecoder {
  // Expand run-length encoding (`X*n`: n - 29 more copies of X) before
  // unescaping. Replies may use it; in GDB's requests a `*` is plain data.
  bool expandRle = false;
  std::size_t maxPacket = kRspMaxPacket;
  // Bytes skipped between packets, and packets dropped (cut by a `$`).
  std::uint64_t junkBytes = 0;
  std::uint64_t droppedPackets = 0;

  // Decoder state; callers leave it alone.
  enum class State { kIdle, kBody, kCheck1, kCheck2 } state = State::kIdle;
  std::string body;  // the escaped body so far (at most maxPacket bytes)
  bool oversize = false;
  std::uint8_t sum = 0;
  char checkHigh = 0;
};

// Feeds `input` to the decoder until it completes one event: true with the
// event in *event and *used the bytes of `input` consumed (the rest belongs
// to later events). False when all of `input` was consumed (*used equals its
// size) with no event completed; the state is kept for the next chunk.
[[nodiscard]] bool RspDecodeNext(RspDecoder* decoder, std::string_view input, std::size_t* used,
                                 RspEvent* event);

// Feeds all of `input` and appends every event completed to *events.
void RspDecodeAll(RspDecoder* decoder, std::string_view input, std::vector<RspEvent>* events);

// Unescapes a packet body (`}` + byte XOR 0x20), expanding run-length
// encoding first when `expandRle` is set; the result may be at most
// `limit` bytes. False on a trailing `}`, a bad run-length count, a `*` with
// nothing before it, or a result over the limit; *payload is then unchanged.
[[nodiscard]] bool RspDecodeBody(std::string_view body, bool expandRle, std::size_t limit,
                                 std::string* payload);

// Appends two lower-case hex digits per byte of `bytes` to *out.
void RspAppendHex(std::string_view bytes, std::string* out);
[[nodiscard]] std::string RspToHex(std::string_view bytes);

// Decodes pairs of hex digits (either case); false on an odd length or a
// character that is not a hex digit, *bytes then unchanged.
[[nodiscard]] bool RspFromHex(std::string_view hex, std::string* bytes);

// Parses 1 to 16 hex digits (either case) as a number; nothing else allowed.
[[nodiscard]] bool RspParseHexNumber(std::string_view text, std::uint64_t* value);

// Lower-case hex without leading zeros ("0" for zero).
[[nodiscard]] std::string RspHexNumber(std::uint64_t value);

// Appends the low `size` bytes (1..8) of `value` least significant first, as
// 2 * size hex digits: the register format of little-endian targets.
void RspAppendLeWord(std::uint64_t value, std::size_t size, std::string* out);

// Parses 2 to 16 hex digits (an even count) of a little-endian word. False
// on anything else, including the "xx" of a register the stub cannot read.
[[nodiscard]] bool RspParseLeWord(std::string_view hex, std::uint64_t* value);

// Thread ids: each part is -1 (all), 0 (any) or a positive hex number.
inline constexpr std::int64_t kRspAllThreads = -1;
inline constexpr std::int64_t kRspAnyThread = 0;

struct RspThreadId {
  bool hasPid = false;   // the multiprocess form pPID.TID
  std::int64_t pid = 0;  // meaningful with hasPid
  std::int64_t tid = 0;
  friend bool operator==(const RspThreadId&, const RspThreadId&) = default;
};

// Parses "-1", "0", hex "1f", "pPID.TID" and "pPID" (all threads of PID).
// Positive values are at most 0x7fffffffffffffff. False on anything else.
[[nodiscard]] bool RspParseThreadId(std::string_view text, RspThreadId* id);

// The text of a thread id: "-1", "0", lower-case hex, or "pPID.TID".
[[nodiscard]] std::string RspFormatThreadId(const RspThreadId& id);
