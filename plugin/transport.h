// The live-mode transport: single blocking reads of standard input and
// writes to standard output, and the receiving of one framed message.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of every receive buffer: one message of at most 65,535 bytes plus its
// terminating zero byte. Each wait holds one on its own stack frame.
inline constexpr std::int32_t kOsaReceiveBufferSize = 0x10000;

// Reads once from the input descriptor into buffer[0 .. size - 1) and puts a
// zero byte behind what was read; a read interrupted before any byte arrived
// is tried again, at most 10 calls in all. True if bytes arrived with no
// error, or if the calls were interrupted (EINTR, possibly with nothing
// read). An end of input fails with errno 0, a read error with its errno.
// Records the text read on "OSA__JSON__Read".
[[nodiscard]] bool OSA__JSON__Read(char* buffer, std::int32_t size);

// Records the text on "OSA__JSON__Write" and writes its `length` bytes to the
// output descriptor in one call (tried again on EINTR, at most 10 calls).
// True only if every byte went out; errno tells why not.
[[nodiscard]] bool OSA__JSON__Write(const char* text, std::int32_t length);

// The longest message that fits a receive buffer with its zero byte.
inline constexpr std::size_t kOsaMaxMessageLength = kOsaReceiveBufferSize - 1;

// What a receive ended with.
enum class OsaReceiveStatus {
  Message,   // a whole message is in the buffer
  Oversize,  // a message longer than kOsaMaxMessageLength was read and dropped
  Failed,    // the input ended or failed first
};

// Fills `buffer` (kOsaReceiveBufferSize bytes) with the next message: exactly
// one JSON object, zero-terminated. Whatever stands before its "{" is
// skipped, so the stream always comes back in step: blanks silently, other
// bytes with one line on stderr that shows them (escaped, shortened). Bytes
// that arrived behind the object are carried over to the next call (of any
// wait), so two messages in one read are both served. A message that
// outgrows the buffer is read to its closing brace and dropped (Oversize,
// with a line on stderr); the message after it frames as usual. Failed
// when the input ends or fails first: `buffer` then holds the part of a
// message received so far (its first kOsaMaxMessageLength bytes at most,
// empty between messages) and *error the errno of the failed read.
[[nodiscard]] OsaReceiveStatus OsaReceiveMessage(char* buffer, int* error);

// Redirects the transport to other descriptors (the defaults are 0 and 1)
// and forgets any carried-over bytes. For tests that play the debugger.
void OsaTransportUseDescriptors(int input, int output);
