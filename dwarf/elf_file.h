// Owners of an open file and of libelf's handle on it, shared by the program
// and the core-file readers.
#pragma once

#include <libelf.h>

#include <memory>
#include <string>

namespace dwarf {

// Closes the descriptor when it goes; not copyable, so it closes once.
struct FileCloser {
  int fd = -1;

  FileCloser() = default;
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;
  ~FileCloser();
};

struct ElfEnd {
  void operator()(Elf* elf) const { elf_end(elf); }
};
using ElfHandle = std::unique_ptr<Elf, ElfEnd>;

// Opens `path` for reading into *file; false with "cannot open PATH: reason".
[[nodiscard]] bool OpenForReading(const std::string& path, FileCloser* file, std::string* error);

}  // namespace dwarf
