// The live-mode transport: the transport record (two descriptors and the
// bytes read ahead), single blocking reads and writes on them, and the
// receiving of one framed message. OSA__JSON__Read and OSA__JSON__Write are
// the interface's names and work on the process conversation's transport.
#pragma once

#include <cstddef>
#include <cstdint>

#include "simple_json/json_value.h"

// The parse of an object that ends the bytes received, as nearly every
// message does: when the last byte of text[0 .. length) that is not an
// inter-message blank is "}" and the text (starting with "{") parses, the
// tree, with *end set just past the object; else null. A well-formed object
// ends where OsaFrameFirstObject would end it, so a receiver given a tree
// needs no framing pass; it frames only what this leaves.
[[nodiscard]] JsonPtr OsaParseEndingObject(const char* text, std::size_t length, std::size_t* end);

// Size of every receive buffer: one message of at most 65,535 bytes plus its
// terminating zero byte. Each wait holds one on its own stack frame.
inline constexpr std::int32_t kOsaReceiveBufferSize = 0x10000;

// The longest message that fits a receive buffer with its zero byte.
inline constexpr std::size_t kOsaMaxMessageLength = kOsaReceiveBufferSize - 1;

// Where messages come from and go to. Standard input and output unless a
// test plays the debugger over descriptors of its own.
struct OsaTransport {
  int input = 0;
  int output = 1;
  // Bytes read but not yet taken: queue[queueStart .. queueEnd). Only the
  // innermost wait reads, and it takes these first, so messages are served
  // in arrival order. Part of the record: the receive path allocates nothing.
  std::size_t queueStart = 0;
  std::size_t queueEnd = 0;
  char queue[kOsaReceiveBufferSize];
};

// Reads once from the transport's input into buffer[0 .. size - 1) and puts
// a zero byte behind what was read; a read interrupted before any byte
// arrived is tried again, at most 10 calls in all. *length gets the length
// of the text read (up to its first zero byte). True if bytes arrived with
// no error, or if the calls were interrupted (EINTR, possibly with nothing
// read). An end of input fails with errno 0, a read error with its errno.
// Records the text read on "OSA__JSON__Read". Takes no queued bytes.
[[nodiscard]] bool OsaTransportRead(const OsaTransport& transport, char* buffer, std::int32_t size,
                                    std::size_t* length);

// Records the text on "OSA__JSON__Write" and writes its `length` bytes to the
// transport's output in one call (tried again on EINTR, at most 10 calls).
// True only if every byte went out; errno tells why not.
[[nodiscard]] bool OsaTransportWrite(const OsaTransport& transport, const char* text,
                                     std::int32_t length);

// OsaTransportRead on the process conversation's transport, without the
// length: the interface's read of standard input.
[[nodiscard]] bool OSA__JSON__Read(char* buffer, std::int32_t size);

// OsaTransportWrite on the process conversation's transport: the
// interface's write to standard output.
[[nodiscard]] bool OSA__JSON__Write(const char* text, std::int32_t length);

// What a receive ended with.
enum class OsaReceiveStatus {
  kMessage,   // a whole message is in the buffer
  kOversize,  // a message longer than kOsaMaxMessageLength was read and dropped
  kFailed,    // the input ended or failed first
};

// Fills `buffer` (kOsaReceiveBufferSize bytes) with the next message from the
// transport (queued bytes first): exactly
// one JSON object, zero-terminated. Whatever stands before its "{" is
// skipped, so the stream always comes back in step: blanks silently, other
// bytes with one line on stderr that shows them (escaped, shortened). Bytes
// that arrived behind the object stay queued in the transport for the next
// call (of any wait), so two messages in one read are both served. A message that
// outgrows the buffer is read to its closing brace and dropped (Oversize,
// with a line on stderr); the message after it frames as usual. Failed
// when the input ends or fails first: `buffer` then holds the part of a
// message received so far (its first kOsaMaxMessageLength bytes at most,
// empty between messages) and *error the errno of the failed read. With a
// message, *size (when asked) is its length, which a NUL byte never cuts:
// framing stops at one. With `tree`, a message parsed on the way is handed
// over there; it stays null when the message still needs its parse.
[[nodiscard]] OsaReceiveStatus OsaReceiveMessage(OsaTransport* transport, char* buffer, int* error,
                                                 std::size_t* size = nullptr,
                                                 JsonPtr* tree = nullptr);
