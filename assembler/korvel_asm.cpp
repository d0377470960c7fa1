// korvel-asm: assembles a Z80 source into a memory image (or Intel HEX), with an optional
// listing and symbol table. On any error nothing is written and existing files stay as they
// were: every output goes to a temporary file beside its target and is renamed into place
// only when all of them have been written.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "assembler.h"
#include "open_file.h"

namespace {

namespace fs = std::filesystem;
namespace as = korvel::assembler;

constexpr int kExitError = 2;

const char* const kUsage =
    "Usage: korvel-asm [OPTION]... SOURCE\n"
    "Assemble the Z80 source SOURCE into a memory image for Korvel: the bytes from 0000H to\n"
    "the highest address written, gaps filled with 00H.\n"
    "\n"
    "  -o, --output=FILE    write the image to FILE (default: SOURCE with .bin, or with\n"
    "                       .hex when --hex is given)\n"
    "      --hex            write Intel HEX (the written bytes only, LF line ends)\n"
    "  -l, --listing=FILE   also write a listing: address, bytes, line number, source line\n"
    "      --symbols=FILE   also write the symbol table: name, value, kind, where defined\n"
    "      --help           display this help and exit\n"
    "      --version        output version information and exit\n"
    "\n"
    "Every error is reported on standard error as FILE:LINE:COLUMN: error: MESSAGE (up to\n"
    "50 of them). On any error no file is written and existing files are left as they were.\n"
    "\n"
    "Exit status: 0 if the source was assembled and every file written, 2 otherwise.\n";

struct Options {
  std::string source;
  std::optional<std::string> output, listing, symbols;
  bool hex = false;
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "korvel-asm: %s\nTry 'korvel-asm --help' for more information.\n",
               message.c_str());
  return kExitError;
}

// Writes `content` to a new temporary file in the folder of `target`; its path, or an
// error message. The name is random and checked to be free, so nothing is overwritten.
bool writeTemporary(const fs::path& target, const std::string& content, fs::path& temporary,
                    std::string& message) {
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
    fs::path candidate = folder / fs::path(u8"." + target.filename().u8string() +
                                           std::u8string(suffix, suffix + std::strlen(suffix)));
    std::error_code ec;
    if (fs::exists(fs::symlink_status(candidate, ec))) continue;
    errno = 0;
    std::FILE* out = korvel::openFile(candidate, "wb");
    if (out == nullptr) {
      message = std::strerror(errno != 0 ? errno : EIO);
      return false;
    }
    temporary = std::move(candidate);
    errno = 0;
    const bool written = std::fwrite(content.data(), 1, content.size(), out) == content.size();
    const int writeErrno = errno != 0 ? errno : EIO;
    if (std::fclose(out) != 0 || !written) {
      message = std::strerror(written ? (errno != 0 ? errno : EIO) : writeErrno);
      return false;
    }
    return true;
  }
  message = "no free name for a temporary file";
  return false;
}

// Two names of the same file, whether or not it exists yet.
bool sameFile(const fs::path& a, const fs::path& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec)) return true;
  return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}

int run(const Options& o) {
  const as::Result result = as::assembleFile(o.source);
  for (const as::Diagnostic& d : result.errors) {
    std::fprintf(stderr, "%s\n", as::formatDiagnostic(d).c_str());
  }
  if (!result.ok()) return kExitError;

  struct Output {
    fs::path path;
    std::string content;
    fs::path temporary;
  };
  std::vector<Output> outputs;
  fs::path image = o.output ? fs::path(*o.output) : fs::path(o.source);
  if (!o.output) image.replace_extension(o.hex ? ".hex" : ".bin");
  outputs.push_back(
      {image,
       o.hex ? as::intelHex(result) : std::string(result.image.begin(), result.image.end()),
       {}});
  if (o.listing) outputs.push_back({*o.listing, result.listing, {}});
  if (o.symbols) outputs.push_back({*o.symbols, as::symbolTable(result), {}});

  for (std::size_t i = 0; i < outputs.size(); ++i) {
    if (sameFile(outputs[i].path, o.source)) {
      std::fprintf(stderr, "korvel-asm: %s would overwrite the source %s\n",
                   korvel::pathText(outputs[i].path).c_str(), korvel::pathText(o.source).c_str());
      return kExitError;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (sameFile(outputs[i].path, outputs[j].path)) {
        std::fprintf(stderr, "korvel-asm: %s is named for two outputs\n",
                     korvel::pathText(outputs[i].path).c_str());
        return kExitError;
      }
    }
  }

  const auto removeTemporaries = [&outputs] {
    std::error_code ec;
    for (const Output& out : outputs) {
      if (!out.temporary.empty()) fs::remove(out.temporary, ec);
    }
  };
  for (Output& out : outputs) {
    std::string message;
    if (!writeTemporary(out.path, out.content, out.temporary, message)) {
      std::fprintf(stderr, "korvel-asm: cannot write %s: %s\n", korvel::pathText(out.path).c_str(),
                   message.c_str());
      removeTemporaries();
      return kExitError;
    }
  }
  for (Output& out : outputs) {
    std::error_code ec;
    fs::rename(out.temporary, out.path, ec);
    if (ec) {
      std::fprintf(stderr, "korvel-asm: cannot write %s: %s\n", korvel::pathText(out.path).c_str(),
                   ec.message().c_str());
      removeTemporaries();
      return kExitError;
    }
    out.temporary.clear();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::vector<std::string> sources;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      sources.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return std::fflush(stdout) == 0 ? 0 : kExitError;
    } else if (arg == "--version") {
      std::printf("korvel-asm (Korvel) %s\n", KORVEL_VERSION);
      return std::fflush(stdout) == 0 ? 0 : kExitError;
    } else if (arg == "--hex") {
      o.hex = true;
    } else {
      // Options with a value: "-o FILE", "-oFILE", "--output FILE", "--output=FILE".
      std::string name = arg;
      std::optional<std::string> value;
      if (arg.starts_with("--")) {
        if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
          name = arg.substr(0, eq);
          value = arg.substr(eq + 1);
        }
      } else if (arg.size() > 2) {
        name = arg.substr(0, 2);
        value = arg.substr(2);
      }
      std::optional<std::string>* target = name == "-o" || name == "--output"    ? &o.output
                                           : name == "-l" || name == "--listing" ? &o.listing
                                           : name == "--symbols"                 ? &o.symbols
                                                                                 : nullptr;
      if (target == nullptr) return usageError("unknown option " + arg);
      if (!value) {
        if (i + 1 >= argc) return usageError("option " + name + " needs a file name");
        value = argv[++i];
      }
      if (value->empty()) return usageError("option " + name + " needs a file name");
      *target = *value;
    }
  }
  if (sources.empty()) return usageError("no source file given");
  if (sources.size() > 1) {
    return usageError("only one source file can be assembled, but " +
                      std::to_string(sources.size()) + " were given");
  }
  o.source = sources.front();
  return run(o);
}
