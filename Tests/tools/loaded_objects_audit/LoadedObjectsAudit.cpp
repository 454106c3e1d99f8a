// Appends the path of every shared object the dynamic loader maps into the
// process, at start-up and through dlopen alike, to the file named by
// $LOADED_OBJECTS_FILE, one a line. Used as LD_AUDIT, it sees what a program
// loads whichever way it ends (even through _exit).

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

extern "C" unsigned int la_version(unsigned int /*version*/) {
  return LAV_CURRENT;
}

extern "C" unsigned int la_objopen(link_map* map, Lmid_t /*namespace*/,
                                   std::uintptr_t* /*cookie*/) {
  const char* const list = std::getenv("LOADED_OBJECTS_FILE");
  // The program itself has no name here.
  if (list == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
    return 0;
  }
  const int file = open(list, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (file < 0) {
    return 0;
  }
  // One write per line, so that the lines of threads that dlopen at once
  // stay whole.
  char line[4096];
  const std::size_t length = std::strlen(map->l_name);
  if (length + 1 <= sizeof line) {
    std::memcpy(line, map->l_name, length);
    line[length] = '\n';
    [[maybe_unused]] const ssize_t written = write(file, line, length + 1);
  }
  close(file);
  return 0;
}
