// Playback mode: replays a recorded conversation from a record file, feeds
// the debugger's messages to the dispatcher and compares every message the
// plug-in makes with the record. Reports go to standard output.
//
// Record file: one message per line, "<prefix><tag><blanks>:<blanks><message>",
// where the prefix is any run of digits, ':', '.', blanks and tabs (room for
// a time stamp), the tag is "VEXLO" (sent by the debugger) or "PLUGIN" (sent
// by the plug-in) in any letter case, the blanks are blanks, tabs, line
// feeds, carriage returns and form feeds, and trailing blanks are cut off.
//
// OSA__Playback__Run, OSA__Playback__NextMessage and OSA__Playback__Exchange
// are the interface's names and work on the process conversation; the
// OsaPlayback* functions take the playback record they work on.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "plugin/nesting.h"
#include "simple_json/json_value.h"

// The playback result: 0 all lines played back, 2 the file cannot be
// opened, 3 the record does not fit, 4 a message of the plug-in differs.
// A later failure replaces an earlier code.
struct OsaPlayback {
  std::istream* record = nullptr;  // open for the duration of a run
  std::int32_t lineCount = 0;      // lines read so far; reports count from 1
  std::int32_t result = 0;
  bool ignoreError = false;  // go on past failures inside service exchanges
};

// Whose line is expected next.
enum class OsaRecordSender { kDebugger, kPlugin };

// Whether a missing line is a failure (reported, result 3).
enum class OsaLineNeed { kOptional, kRequired };

// Reads the next line into *holder and returns the message inside it (valid
// until the holder is next read into), or null. Null with a report and the
// result 3 when the line is missing (only if required), names the other
// sender or has anything else before the tag, or lacks the colon.
const char* OsaPlaybackNextMessage(OsaPlayback* playback, std::string* holder,
                                   OsaRecordSender sender, OsaLineNeed need);

// Checks `request` against the next "PLUGIN" line, serves the debugger's
// recorded nested requests, and returns the recorded answer (kept in
// waits->lastAnswer), or null. Hands the answer's parsed tree to *tree as
// well (null when it does not parse); `tree` may be null.
const char* OsaPlaybackExchange(OsaPlayback* playback, OsaWaits* waits, const char* request,
                                JsonPtr* tree);

// Plays `stream` back; `name` is only used in reports. The client service
// must send through the conversation that holds `playback`.
std::int32_t OsaPlaybackRun(OsaPlayback* playback, std::istream& stream, const char* name);

// Opens the named file and plays it back (2 when it cannot be opened).
std::int32_t OsaPlaybackRunFile(OsaPlayback* playback, const char* fileName);

// The interface's operations, on the process conversation.
const char* OSA__Playback__NextMessage(std::string* holder, bool fromDebugger, bool required);
const char* OSA__Playback__Exchange(const char* request);
std::int32_t OSA__Playback__Run(const char* fileName);
