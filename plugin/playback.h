// Playback mode: replays a recorded conversation from a record file, feeds
// the debugger's messages to the dispatcher and compares every message the
// plug-in makes with the record. Reports go to standard output.
//
// Record file: one message per line, "<prefix><tag><blanks>:<blanks><message>",
// where the prefix is any run of digits, ':', '.', blanks and tabs (room for
// a time stamp), the tag is "VEXLO" (sent by the debugger) or "PLUGIN" (sent
// by the plug-in) in any letter case, the blanks are blanks, tabs, line
// feeds, carriage returns and form feeds, and trailing blanks are cut off.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

#include "simple_json/json_value.h"

// Lets the run go on past failures found inside service exchanges.
void OsaPlaybackSetIgnoreError(bool ignore);

// Reads the next line into *holder and returns the message inside it (valid
// until the holder is next read into), or null. Null with a report and the
// result 3 when the line is missing (only if `required`), names the other
// sender or has anything else before the tag, or lacks the colon.
const char* OSA__Playback__NextMessage(std::string* holder, bool fromDebugger, bool required);

// The playback mode's send function: checks `request` against the next
// "PLUGIN" line, serves the debugger's recorded nested requests, and returns
// the recorded answer (a copy valid until the next call), or null.
const char* OSA__Playback__Exchange(const char* request);

// The same, handing the recorded answer's parsed tree to *tree as well (null
// when it does not parse); `tree` may be null. The client service's parsed send.
const char* OsaPlaybackExchangeParsed(void* context, const char* request, JsonPtr* tree);

// Plays the named record file back and returns the playback result: 0 all
// lines played back, 2 the file cannot be opened, 3 the record does not fit,
// 4 a message of the plug-in differs from the record.
std::int32_t OSA__Playback__Run(const char* fileName);

// The same on an open stream; `name` is only used in reports.
std::int32_t OsaPlaybackRunStream(std::istream& stream, const char* name);
