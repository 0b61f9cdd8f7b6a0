// The plug-in's command line: "-help" ("-h"), "-ignore_error" and
// "-file" ("-f") with a record file name; option words match in full with
// ASCII letters folded to lower case.
#pragma once

#include <string>

enum class OsaCommandAction {
  kLive,         // no option at all
  kHelp,         // "-help" or "-h" met before any syntax error
  kSyntaxError,  // the first syntax error ended the reading
  kPlayback,     // options without error
};

struct OsaCommandLine {
  OsaCommandAction action = OsaCommandAction::kLive;
  bool ignoreError = false;
  bool hasFile = false;
  std::string fileName;
  // The syntax error was a second "-file" option.
  bool duplicateFile = false;
};

// Reads the options from left to right; nothing is printed.
OsaCommandLine OsaParseCommandLine(int argc, const char* const* argv);

// The usage line, with the program name filled in.
std::string OsaUsageLine(const char* programName);
