// The executable the parent application spawns. It blocks SIGINT, SIGTERM and
// SIGHUP, then replaces itself with the helper proper: the
// recording program for "start", the program that lists and asks for every
// other command, which loads a few libraries instead of the hundred-odd a
// recording needs. Loading those takes tens of milliseconds, during which a
// signal would end the process before any of our code runs; a blocked signal
// instead stays pending across exec until the helper has installed its
// handlers and unblocks it.
//
// Even a static C library spends about a millisecond starting up before main,
// so this program uses none: its first instructions block the signals, which
// leaves only the kernel's own exec as a moment a signal can end us.

#include <asm/unistd.h>
#include <csignal>
#include <cstddef>
#include <fcntl.h>

namespace {

long systemCall(long number, long first, long second, long third, long fourth = 0) {
  long result;
#if defined(__x86_64__)
  register long r10 asm("r10") = fourth;
  asm volatile("syscall"
               : "=a"(result)
               : "a"(number), "D"(first), "S"(second), "d"(third), "r"(r10)
               : "rcx", "r11", "memory");
#elif defined(__aarch64__)
  register long x8 asm("x8") = number;
  register long x0 asm("x0") = first;
  register long x1 asm("x1") = second;
  register long x2 asm("x2") = third;
  register long x3 asm("x3") = fourth;
  asm volatile("svc 0" : "+r"(x0) : "r"(x8), "r"(x1), "r"(x2), "r"(x3) : "memory");
  result = x0;
#else
#error "the launcher knows the system call convention of x86-64 and AArch64 only"
#endif
  return result;
}

constexpr char recordingProgramName[] = TARSEL_HELPER_RECORDING_PROGRAM_NAME;
constexpr char queryProgramName[] = TARSEL_HELPER_QUERY_PROGRAM_NAME;
constexpr std::size_t pathCapacity = 4096;

void blockStopSignals() {
  // The kernel's signal set: bit n-1 stands for signal n.
  const unsigned long stopSignals =
      (1UL << (SIGINT - 1)) | (1UL << (SIGTERM - 1)) | (1UL << (SIGHUP - 1));
  systemCall(__NR_rt_sigprocmask, SIG_BLOCK, reinterpret_cast<long>(&stopSignals), 0,
             sizeof stopSignals);
}

bool isRecordingCommand(const char* word) {
  static constexpr char start[] = "start";
  for (std::size_t index = 0; index < sizeof start; ++index) {
    if (word[index] != start[index]) {
      return false;
    }
  }
  return true;
}

// Where the helper's programs are, relative to this executable's folder:
// installed, in their own folder (bin/ and libexec/tarsel-helper/, so that
// the tree moves as a whole); in a build tree, beside it.
constexpr const char* programFolders[] = {TARSEL_HELPER_INSTALLED_PROGRAM_FOLDER, ""};

std::size_t length(const char* text) {
  std::size_t size = 0;
  while (text[size] != '\0') {
    ++size;
  }
  return size;
}

// The folder of this executable, with its final '/', as the start of
// `path`: its length, or 0 when it cannot be read or does not fit.
std::size_t ownFolder(char (&path)[pathCapacity]) {
  const long size = systemCall(__NR_readlinkat, AT_FDCWD, reinterpret_cast<long>("/proc/self/exe"),
                               reinterpret_cast<long>(path), pathCapacity);
  if (size <= 0 || static_cast<std::size_t>(size) >= pathCapacity) {
    return 0;
  }
  std::size_t end = static_cast<std::size_t>(size);
  while (end > 0 && path[end - 1] != '/') {
    --end;
  }
  return end;
}

// Appends `folder` and the program of `command` (null when there is none)
// to the first `start` characters of `path`; false when it does not fit.
bool programPath(std::size_t start, const char* folder, const char* command,
                 char (&path)[pathCapacity]) {
  const bool recording = command != nullptr && isRecordingCommand(command);
  const char* const programName = recording ? recordingProgramName : queryProgramName;
  const std::size_t folderSize = length(folder);
  const std::size_t nameSize = length(programName) + 1;
  if (start + folderSize + nameSize > pathCapacity) {
    return false;
  }
  for (std::size_t index = 0; index < folderSize; ++index) {
    path[start + index] = folder[index];
  }
  for (std::size_t index = 0; index < nameSize; ++index) {
    path[start + folderSize + index] = programName[index];
  }
  return true;
}

[[noreturn]] void fail(const char* path) {
  static constexpr char message[] = "tarsel-helper: cannot run ";
  systemCall(__NR_write, 2, reinterpret_cast<long>(message), sizeof message - 1);
  systemCall(__NR_write, 2, reinterpret_cast<long>(path), static_cast<long>(length(path)));
  systemCall(__NR_write, 2, reinterpret_cast<long>("\n"), 1);
  systemCall(__NR_exit_group, 1, 0, 0);
  __builtin_unreachable();
}

} // namespace

// The process entry point, given the initial stack: argc, argv..., NULL,
// environment..., NULL.
extern "C" [[noreturn]] void launch(long* stack) {
  blockStopSignals();
  char** const arguments = reinterpret_cast<char**>(stack + 1);
  char** const environment = arguments + stack[0] + 1;
  char path[pathCapacity];
  const std::size_t folderEnd = ownFolder(path);
  if (folderEnd == 0) {
    fail("/proc/self/exe");
  }
  for (const char* folder : programFolders) {
    if (!programPath(folderEnd, folder, stack[0] > 1 ? arguments[1] : nullptr, path)) {
      fail("/proc/self/exe");
    }
    // Returns only when that program cannot run: the next folder may hold it.
    systemCall(__NR_execve, reinterpret_cast<long>(path), reinterpret_cast<long>(arguments),
               reinterpret_cast<long>(environment));
  }
  fail(path);
}

#if defined(__x86_64__)
asm(".globl _start\n_start:\n  mov %rsp, %rdi\n  and $-16, %rsp\n  call launch\n");
#elif defined(__aarch64__)
asm(".globl _start\n_start:\n  mov x0, sp\n  bl launch\n");
#endif
