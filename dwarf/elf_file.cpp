// Owners of an open file and of libelf's handle on it.
#include "dwarf/elf_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dwarf {

FileCloser::~FileCloser() {
  if (fd >= 0) close(fd);
}

bool OpenForReading(const std::string& path, FileCloser* file, std::string* error) {
  file->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file->fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace dwarf
