// The live-mode transport: single blocking reads of standard input and
// writes to standard output, and the receiving of one framed message.
#pragma once

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

// Fills `buffer` (kOsaReceiveBufferSize bytes) with the next message: exactly
// one JSON object, zero-terminated, with the blanks before it dropped. Bytes
// that arrived behind the object are carried over to the next call (of any
// wait), so two messages in one read are both served. False when the input
// ends or fails first, or when 65,535 bytes are held without completing an
// object: `buffer` then holds the text received so far (blanks dropped) and
// *error the errno of the failed read.
[[nodiscard]] bool OsaReceiveMessage(char* buffer, int* error);

// Redirects the transport to other descriptors (the defaults are 0 and 1)
// and forgets any carried-over bytes. For tests that play the debugger.
void OsaTransportUseDescriptors(int input, int output);
