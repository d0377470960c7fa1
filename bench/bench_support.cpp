#include "bench_support.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace korvel::bench {

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::optional<std::vector<std::uint8_t>> readImage(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (in.bad()) {
    error = "cannot read " + path;
    return std::nullopt;
  }
  if (bytes.size() > 65536) {
    error = path + " holds " + std::to_string(bytes.size()) +
            " bytes; a memory image has at most 65536";
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::int64_t> parseCount(const std::string& text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value <= 0) return std::nullopt;
  return value;
}

namespace {

constexpr std::size_t kTailBytes = 64 * 1024;

// VmHWM of a stopped process from /proc, in KB; -1 if it cannot be read.
long readPeakKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Waits for the child (blocking or not); a trace stop at exit records the peak and lets
// the child go on, any other stop passes its signal on. True once the child has ended.
bool reap(pid_t pid, bool block, ChildResult& result) {
  for (;;) {
    int status = 0;
    rusage usage{};
    const pid_t got = wait4(pid, &status, block ? 0 : WNOHANG, &usage);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EINTR) continue;
      result.error = std::string("wait4: ") + std::strerror(errno);
      return true;
    }
    if (WIFSTOPPED(status)) {
      int signal = WSTOPSIG(status);
      if (signal == SIGTRAP && (status >> 16) == PTRACE_EVENT_EXIT) {
        result.peakKb = readPeakKb(pid);
        signal = 0;
      } else if (signal == SIGTRAP) {
        signal = 0;
      }
      ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(static_cast<long>(signal)));
      continue;
    }
    result.maxRssKb = usage.ru_maxrss;
    const auto seconds = [](const timeval& t) {
      return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    result.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    return true;
  }
}

}  // namespace

ChildResult runChild(const std::vector<std::string>& argv, ChildOutput output, bool measurePeak) {
  ChildResult result;
  int outPipe[2] = {-1, -1};
  int execPipe[2] = {-1, -1};  // carries errno if exec fails; closed by a successful exec
  if ((output == ChildOutput::Capture && pipe2(outPipe, O_CLOEXEC) != 0) ||
      pipe2(execPipe, O_CLOEXEC) != 0) {
    result.error = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    result.error = std::string("fork: ") + std::strerror(errno);
    return result;
  }
  if (pid == 0) {
    const int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, STDIN_FILENO);
    dup2(output == ChildOutput::Capture ? outPipe[1] : devNull, STDOUT_FILENO);
    if (measurePeak) {
      // LeakSanitizer cannot run in a traced process; in a sanitizer build it would turn
      // the child's exit status into a failure. (Release builds ignore the variable.)
      const char* asan = std::getenv("ASAN_OPTIONS");
      const std::string options = asan != nullptr && *asan != '\0'
                                      ? std::string(asan) + ":detect_leaks=0"
                                      : "detect_leaks=0";
      setenv("ASAN_OPTIONS", options.c_str(), 1);
      ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    }
    execv(args[0], args.data());
    const int err = errno;
    if (write(execPipe[1], &err, sizeof err) < 0) _exit(126);
    _exit(127);
  }
  close(execPipe[1]);
  if (outPipe[1] >= 0) close(outPipe[1]);

  if (measurePeak) {
    // The first stop comes right after exec (or the child has already failed and ended).
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSTOPPED(status)) {
      ptrace(PTRACE_SETOPTIONS, pid, nullptr,
             reinterpret_cast<void*>(static_cast<long>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL)));
      ptrace(PTRACE_CONT, pid, nullptr, nullptr);
    } else {
      result.exited = WIFEXITED(status);
      result.status = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    }
  }

  int execErrno = 0;
  const bool execFailed = read(execPipe[0], &execErrno, sizeof execErrno) == sizeof execErrno;
  close(execPipe[0]);

  bool ended = measurePeak && result.exited;
  if (output == ChildOutput::Capture) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
      pollfd p{outPipe[0], POLLIN, 0};
      const int ready = poll(&p, 1, 20);
      if (ready == 0) {
        if (measurePeak && !ended) ended = reap(pid, false, result);
        continue;
      }
      if (ready < 0 && errno == EINTR) continue;
      const ssize_t n = read(outPipe[0], buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      const std::size_t got = static_cast<std::size_t>(n);
      result.bytes += got;
      result.lines +=
          static_cast<std::uint64_t>(std::count(buffer.data(), buffer.data() + got, '\n'));
      result.tail.append(buffer.data(), got);
      if (result.tail.size() > 2 * kTailBytes)
        result.tail.erase(0, result.tail.size() - kTailBytes);
    }
    close(outPipe[0]);
  }
  if (!ended) reap(pid, true, result);
  const auto end = std::chrono::steady_clock::now();
  result.seconds = std::chrono::duration<double>(end - start).count();

  if (execFailed) {
    result.error = "cannot run " + argv[0] + ": " + std::strerror(execErrno);
    return result;
  }
  result.started = result.error.empty();
  return result;
}

std::optional<ImageOptions> parseImageOptions(int argc, char** argv, ImageOptions defaults,
                                              const std::string& countOption, bool allowNoCli) {
  ImageOptions options = std::move(defaults);
  bool imageSeen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if ((arg == "--runs" || arg == countOption) && hasValue) {
      const auto n = parseCount(argv[++i]);
      if (!n || (arg == "--runs" && *n > 1000)) return std::nullopt;
      if (arg == "--runs") {
        options.runs = static_cast<int>(*n);
      } else {
        options.count = *n;
      }
    } else if (arg == "--cli" && hasValue) {
      options.cli = argv[++i];
    } else if (arg == "--no-cli" && allowNoCli) {
      options.cli.clear();
    } else if (!arg.empty() && arg[0] != '-' && !imageSeen) {
      options.image = arg;
      imageSeen = true;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace korvel::bench
