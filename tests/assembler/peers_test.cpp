// Debian's z80asm and pasmo as oracles that are not Korvel's code: every documented form and
// the examples give byte-identical images, and where a peer accepts an out-of-range value
// without a word, Korvel refuses it. A peer that is not installed skips its test.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "assembler.h"
#include "documented_forms.h"
#include "temp_dir.h"

namespace korvel::assembler {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::TempDir;

struct Peer {
  const char* name;
  const char* command;  // {src} and {out} are replaced
};
const Peer kZ80asm{"z80asm", "z80asm -o {out} {src}"};
const Peer kPasmo{"pasmo", "pasmo {src} {out}"};

struct PeerRun {
  bool accepted;     // exit status 0 and an output file
  std::string said;  // everything it printed
  std::string image;
};

PeerRun runPeer(const Peer& peer, const TempDir& dir, const std::string& source) {
  const fs::path src = dir / "peer.asm";
  const fs::path out = dir / "peer.bin";
  testing::writeBytes(src, std::vector<unsigned char>(source.begin(), source.end()));
  fs::remove(out);
  std::string command = peer.command;
  command.replace(command.find("{out}"), 5, "'" + out.string() + "'");
  command.replace(command.find("{src}"), 5, "'" + src.string() + "'");
  const int status = std::system((command + " >'" + (dir / "said").string() + "' 2>&1").c_str());
  const bool written = fs::exists(out);
  return {WIFEXITED(status) && WEXITSTATUS(status) == 0 && written, readText(dir / "said"),
          written ? readText(out) : ""};
}

std::string korvelImage(const std::string& source) {
  const Result r = assembleText(source, "korvel.asm");
  EXPECT_TRUE(r.ok()) << (r.ok() ? "" : formatDiagnostic(r.errors[0]));
  return std::string(r.image.begin(), r.image.end());
}

void compareWith(const Peer& peer) {
  if (std::system((std::string("command -v ") + peer.name + " >/dev/null 2>&1").c_str()) != 0) {
    GTEST_SKIP() << peer.name << " is not installed (Debian package " << peer.name
                 << "; .ci/install-deps installs it): the comparison is skipped";
  }
  TempDir dir;
  std::string forms = " org 0\n";
  for (const testing::DocumentedForm& f : testing::documentedForms())
    forms += " " + f.source + "\n";
  const std::string sources[] = {
      forms,
      readText(KORVEL_EXAMPLES_DIR "/hello.asm"),
      readText(KORVEL_EXAMPLES_DIR "/pages.asm"),
  };
  for (const std::string& source : sources) {
    const PeerRun run = runPeer(peer, dir, source);
    ASSERT_TRUE(run.accepted) << run.said;
    const std::string image = korvelImage(source);
    ASSERT_EQ(image.size(), run.image.size()) << source.substr(0, 200);
    EXPECT_TRUE(image == run.image)
        << "first difference at byte "
        << std::mismatch(image.begin(), image.end(), run.image.begin()).first - image.begin();
  }

  int silent = 0;
  for (const char* line : {" ld a,300", " ld bc,70000", " ld (ix+200),1", " out (300),a", " db 256",
                           " dw 65536", " bit 0,(ix+128)"}) {
    const std::string source = std::string(" org 0\n") + line + "\n";
    const PeerRun run = runPeer(peer, dir, source);
    if (!run.accepted || !run.said.empty()) continue;
    ++silent;
    SCOPED_TRACE(line);
    EXPECT_FALSE(run.image.empty());
    EXPECT_FALSE(assembleText(source, "korvel.asm").ok());
  }
  EXPECT_GT(silent, 0) << peer.name << " warned about every out-of-range value";
}

TEST(Peers, Z80asmMakesTheSameBytes) {
  compareWith(kZ80asm);
}
TEST(Peers, PasmoMakesTheSameBytes) {
  compareWith(kPasmo);
}

}  // namespace
}  // namespace korvel::assembler
