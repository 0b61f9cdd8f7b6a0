// Cuts one direction of a recorded conversation into whole messages, with
// the plug-in's own framing rules, and writes each as a record line.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// A pending text larger than this without a complete object is dropped, so a
// peer that never closes its braces cannot exhaust memory.
inline constexpr std::size_t kRecorderMaxMessage = std::size_t{16} << 20;

struct MessageFramer {
  std::string pending;           // bytes received but not yet a whole message
  std::size_t droppedBytes = 0;  // bytes that were not part of any message
};

// Adds received bytes and calls emit(context, message) for every message
// completed by them, in order. Blanks between messages are dropped; bytes
// before a "{" that cannot begin a message, NUL bytes and an oversized
// unfinished text are dropped and counted in droppedBytes.
void FramerFeed(MessageFramer* framer, std::string_view bytes,
                void (*emit)(void* context, std::string_view message), void* context);

// "HH:MM:SS.uuuuuu" (UTC) of the current time: digits, ':' and '.' only, so
// that playback skips it as the prefix of a record line.
std::string RecordTimeStamp();

// The record line "<stamp> <tag>: <message>\n". Line ends inside the message
// become blanks, since a record holds one message per line.
std::string RecordLine(std::string_view stamp, std::string_view tag, std::string_view message);
