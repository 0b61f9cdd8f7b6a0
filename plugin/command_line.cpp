// Reading of the plug-in's options (see command_line.h).
#include "plugin/command_line.h"

#include <string_view>

namespace {

enum class Option { kHelp, kIgnoreError, kFile, kUnknown };

struct OptionWord {
  std::string_view word;
  Option option;
};

constexpr OptionWord kOptionWords[] = {
    {"-help", Option::kHelp}, {"-h", Option::kHelp}, {"-ignore_error", Option::kIgnoreError},
    {"-file", Option::kFile}, {"-f", Option::kFile},
};
static_assert(sizeof(kOptionWords) / sizeof(kOptionWords[0]) == 5);

constexpr char FoldCase(char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a') : byte;
}

bool SameWord(std::string_view argument, std::string_view word) {
  if (argument.size() != word.size()) return false;
  for (std::size_t index = 0; index < word.size(); ++index) {
    if (FoldCase(argument[index]) != word[index]) return false;
  }
  return true;
}

Option FindOption(const char* argument) {
  const std::string_view text = argument != nullptr ? argument : "";
  for (const OptionWord& entry : kOptionWords) {
    if (SameWord(text, entry.word)) return entry.option;
  }
  return Option::kUnknown;
}

}  // namespace

OsaCommandLine OsaParseCommandLine(int argc, const char* const* argv) {
  OsaCommandLine line;
  if (argc < 2) return line;
  line.action = OsaCommandAction::kPlayback;
  for (int index = 1; index < argc; ++index) {
    switch (FindOption(argv[index])) {
      case Option::kHelp:
        line.action = OsaCommandAction::kHelp;
        return line;
      case Option::kIgnoreError:
        line.ignoreError = true;
        break;
      case Option::kFile:
        if (index + 1 >= argc) {
          line.action = OsaCommandAction::kSyntaxError;
          return line;
        }
        ++index;
        if (line.hasFile) {
          line.duplicateFile = true;
          line.action = OsaCommandAction::kSyntaxError;
          return line;
        }
        line.hasFile = true;
        line.fileName = argv[index] != nullptr ? argv[index] : "";
        break;
      case Option::kUnknown:
        line.action = OsaCommandAction::kSyntaxError;
        return line;
    }
  }
  return line;
}

std::string OsaUsageLine(const char* programName) {
  std::string usage(programName != nullptr ? programName : "");
  usage.append(" [-help | [-ignore_error] -file <JsonRecordPlaybackFile>]\n");
  return usage;
}
