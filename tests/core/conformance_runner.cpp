// Runs recorded single-instruction Z80 vectors through Machine::clock_Timer and compares
// registers, flags, memory and port traffic with what the silicon did.
//
//   conformance_runner [FILE] [--opcode PREFIX]
//
// PREFIX selects the tests whose name starts with it ("ED B0", "DD", "DD CB __ 46").
// Prints each failing test with one line per difference, then "N passed, N failed".
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/machine.h"

#ifndef KORVEL_VECTORS_FILE
#define KORVEL_VECTORS_FILE "z80-vectors.txt"
#endif

namespace {

using korvel::MachineState;

// The register columns of a vector line: PC SP A F B C D E H L IX IY AF' BC' DE' HL'.
constexpr int kColumns = 16;
constexpr int kFColumn = 3;

// Where each MachineState field lives in the columns. A flag is one bit of F or of the
// low byte of AF'.
struct Field {
  const char* name;
  std::int32_t MachineState::*member;
  int column;
  int shift;
  std::int32_t mask;
};

const Field kFields[] = {
    {"PC", &MachineState::PC, 0, 0, 0xFFFF},
    {"SP", &MachineState::SP, 1, 0, 0xFFFF},
    {"A", &MachineState::A, 2, 0, 0xFF},
    {"Sign", &MachineState::Sign, 3, 7, 1},
    {"Zero", &MachineState::Zero, 3, 6, 1},
    {"Parity", &MachineState::Parity, 3, 2, 1},
    {"Carry", &MachineState::Carry, 3, 0, 1},
    {"B", &MachineState::B, 4, 0, 0xFF},
    {"C", &MachineState::C, 5, 0, 0xFF},
    {"D", &MachineState::D, 6, 0, 0xFF},
    {"E", &MachineState::E, 7, 0, 0xFF},
    {"H", &MachineState::H, 8, 0, 0xFF},
    {"L", &MachineState::L, 9, 0, 0xFF},
    {"IX", &MachineState::IX, 10, 0, 0xFFFF},
    {"IY", &MachineState::IY, 11, 0, 0xFFFF},
    {"A'", &MachineState::altA, 12, 8, 0xFF},
    {"Sign'", &MachineState::altSign, 12, 7, 1},
    {"Zero'", &MachineState::altZero, 12, 6, 1},
    {"Parity'", &MachineState::altParity, 12, 2, 1},
    {"Carry'", &MachineState::altCarry, 12, 0, 1},
    {"B'", &MachineState::altB, 13, 8, 0xFF},
    {"C'", &MachineState::altC, 13, 0, 0xFF},
    {"D'", &MachineState::altD, 14, 8, 0xFF},
    {"E'", &MachineState::altE, 14, 0, 0xFF},
    {"H'", &MachineState::altH, 15, 8, 0xFF},
    {"L'", &MachineState::altL, 15, 0, 0xFF},
};

// Bits 7, 6, 2, 0 of a flag byte: Sign, Zero, Parity, Carry. The others are flags that
// the machine does not have.
constexpr std::int32_t kModelledFlags = 0xC5;

// Where the machine deliberately differs from the silicon: for the tests whose name
// starts with one of `names`, only `flagBits` of F are compared.
struct Difference {
  std::vector<std::string> names;
  std::int32_t flagBits;
  const char* reason;
};

const std::vector<Difference> kDifferences = {
    {{"CB 4", "CB 5", "CB 6", "CB 7", "DD CB __ 4", "DD CB __ 5", "DD CB __ 6", "DD CB __ 7",
      "FD CB __ 4", "FD CB __ 5", "FD CB __ 6", "FD CB __ 7"},
     0x41,
     "BIT defines Zero only and keeps Carry, Sign and Parity"},
    {{"ED B0 ", "ED B8 "}, 0xC1, "LDIR and LDDR set Parity to 0 on every iteration"},
    {{"ED A2 ", "ED AA ", "ED A3 ", "ED AB "}, 0x40, "INI, IND, OUTI, OUTD define Zero only"},
    {{"ED B2 ", "ED BA ", "ED B3 ", "ED BB "},
     0x00,
     "INIR, INDR, OTIR, OTDR set Zero to 1 on every iteration and nothing else"},
};
// PUSH AF stores a flag byte that holds the modelled bits only.
const std::string kPushAF = "F5 ";

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

std::int32_t comparedFlagBits(const std::string& name) {
  for (const Difference& d : kDifferences)
    for (const std::string& prefix : d.names)
      if (startsWith(name, prefix)) return d.flagBits & kModelledFlags;
  return kModelledFlags;
}

struct Cell {
  std::int32_t address;
  std::int32_t value;
};
struct Snapshot {
  std::array<std::int32_t, kColumns> columns{};
  std::vector<Cell> cells;
};
struct PortEvent {
  std::int32_t port;  // the full 16-bit bus address
  std::int32_t data;
};
struct Vector {
  std::string name;
  int line = 0;
  Snapshot before, after;
  std::vector<PortEvent> reads, writes;
};

std::string hex(std::int32_t value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, static_cast<unsigned>(value));
  return buffer;
}

int digitsFor(std::int32_t mask) {
  return mask == 0xFFFF ? 4 : mask == 0xFF ? 2 : 1;
}

bool parseHex(const std::string& text, std::int32_t limit, std::int32_t& out) {
  if (text.empty() || text.size() > 4) return false;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 16);
  if (*end != '\0' || value < 0 || value > limit) return false;
  out = static_cast<std::int32_t>(value);
  return true;
}

// "<16 registers> ; addr:byte ..."
bool parseSnapshot(std::istringstream& in, Snapshot& s) {
  std::string token;
  for (std::int32_t& column : s.columns)
    if (!(in >> token) || !parseHex(token, 0xFFFF, column)) return false;
  if (!(in >> token) || token != ";") return false;
  while (in >> token) {
    const auto colon = token.find(':');
    Cell cell{};
    if (colon == std::string::npos || !parseHex(token.substr(0, colon), 0xFFFF, cell.address) ||
        !parseHex(token.substr(colon + 1), 0xFF, cell.value))
      return false;
    s.cells.push_back(cell);
  }
  return true;
}

// "-" or "r:port:byte" / "w:port:byte" entries.
bool parsePorts(std::istringstream& in, Vector& v) {
  std::string token;
  while (in >> token) {
    if (token == "-") continue;
    const auto second = token.find(':', 2);
    PortEvent e{};
    if (token.size() < 2 || token[1] != ':' || second == std::string::npos ||
        !parseHex(token.substr(2, second - 2), 0xFFFF, e.port) ||
        !parseHex(token.substr(second + 1), 0xFF, e.data))
      return false;
    if (token[0] == 'r')
      v.reads.push_back(e);
    else if (token[0] == 'w')
      v.writes.push_back(e);
    else
      return false;
  }
  return true;
}

bool readVectors(const std::string& path, std::vector<Vector>& out, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  std::string text;
  int lineNumber = 0;
  Vector* current = nullptr;
  char expected = 'T';
  while (std::getline(file, text)) {
    ++lineNumber;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text[0] == '#') continue;
    std::istringstream in(text.substr(1));
    const char kind = expected;
    bool ok = text[0] == kind && (text.size() == 1 || text[1] == ' ');
    if (ok) {
      switch (text[0]) {
        case 'T':
          out.push_back(Vector{});
          current = &out.back();
          current->name = text.size() > 2 ? text.substr(2) : "";
          current->line = lineNumber;
          ok = !current->name.empty();
          expected = 'I';
          break;
        case 'I': ok = parseSnapshot(in, current->before), expected = 'P'; break;
        case 'P': ok = parsePorts(in, *current), expected = 'F'; break;
        case 'F': ok = parseSnapshot(in, current->after), expected = 'T'; break;
      }
    }
    if (!ok) {
      error = path + ":" + std::to_string(lineNumber) + ": expected a well-formed '" + kind +
              "' line, found: " + text;
      return false;
    }
  }
  if (expected != 'T') {
    error = path + ": the last test is incomplete";
    return false;
  }
  return true;
}

class CountingDisplay : public korvel::Display {
 public:
  void ekran() override { ++calls; }
  int calls = 0;
};

class CountingStop : public korvel::RunControl {
 public:
  void menustop_Click() override { ++calls; }
  int calls = 0;
};

// Answers port reads from the vector's r: entries and records the writes.
class VectorPorts : public korvel::PortInput, public korvel::PortOutput {
 public:
  void start(const std::vector<PortEvent>& reads, std::vector<std::string>* problems) {
    reads_ = reads;
    next_ = 0;
    written.clear();
    problems_ = problems;
  }
  std::optional<std::int32_t> portin(std::int32_t portnum, std::int32_t) override {
    if (next_ >= reads_.size()) {
      problems_->push_back("port read: none expected, got a read of port " + hex(portnum, 2));
      return 0;
    }
    const PortEvent& e = reads_[next_++];
    if (portnum != (e.port & 0xFF))
      problems_->push_back("port read: expected port " + hex(e.port & 0xFF, 2) + ", got " +
                           hex(portnum, 2));
    return e.data;
  }
  bool portout(std::int32_t portnum, std::int32_t portdata) override {
    written.push_back({portnum, portdata});
    return true;
  }
  std::size_t unusedReads() const { return reads_.size() - next_; }
  std::vector<PortEvent> written;

 private:
  std::vector<PortEvent> reads_;
  std::size_t next_ = 0;
  std::vector<std::string>* problems_ = nullptr;
};

void load(MachineState& s, const Snapshot& snapshot) {
  s.memory.fill(0);
  for (const Field& f : kFields) s.*f.member = (snapshot.columns[f.column] >> f.shift) & f.mask;
  for (const Cell& c : snapshot.cells) s.memory[c.address] = c.value;
}

void compareRegisters(const MachineState& s, const Vector& v, std::vector<std::string>& problems) {
  const std::int32_t flagBits = comparedFlagBits(v.name);
  for (const Field& f : kFields) {
    if (f.column == kFColumn && ((flagBits >> f.shift) & 1) == 0) continue;
    const std::int32_t want = (v.after.columns[f.column] >> f.shift) & f.mask;
    const std::int32_t got = s.*f.member;
    if (got != want)
      problems.push_back(std::string(f.name) + ": expected " + hex(want, digitsFor(f.mask)) +
                         ", got " + hex(got, digitsFor(f.mask)));
  }
}

void compareMemory(const MachineState& s, const Vector& v, std::vector<std::int32_t>& expected,
                   std::vector<std::string>& problems) {
  for (const Cell& c : v.after.cells) expected[c.address] = c.value;
  // The flag byte that PUSH AF leaves at the new SP holds the modelled bits only.
  const std::int32_t flagCell = startsWith(v.name, kPushAF) ? v.after.columns[1] : -1;
  if (flagCell >= 0 &&
      (s.memory[flagCell] & kModelledFlags) == (expected[flagCell] & kModelledFlags))
    expected[flagCell] = s.memory[flagCell];
  if (!std::equal(expected.begin(), expected.end(), s.memory.begin())) {
    for (std::int32_t a = 0; a < korvel::kMemorySize; ++a)
      if (s.memory[a] != expected[a])
        problems.push_back("mem[" + hex(a, 4) + "]: expected " + hex(expected[a], 2) + ", got " +
                           hex(s.memory[a], 2));
  }
  for (const Cell& c : v.after.cells) expected[c.address] = 0;
  if (flagCell >= 0) expected[flagCell] = 0;
}

void comparePorts(const VectorPorts& ports, const Vector& v, std::vector<std::string>& problems) {
  if (ports.unusedReads() != 0) problems.push_back("port read: expected a read, got none");
  const std::size_t n = std::max(ports.written.size(), v.writes.size());
  for (std::size_t i = 0; i < n; ++i) {
    const std::string want = i < v.writes.size()
                                 ? hex(v.writes[i].port & 0xFF, 2) + "<-" + hex(v.writes[i].data, 2)
                                 : "nothing";
    const std::string got = i < ports.written.size() ? hex(ports.written[i].port, 2) + "<-" +
                                                           hex(ports.written[i].data, 2)
                                                     : "nothing";
    if (want != got) problems.push_back("port write: expected " + want + ", got " + got);
  }
}

std::string opcodeOf(const std::string& name) {
  return name.substr(0, name.rfind(' '));
}

}  // namespace

int main(int argc, char** argv) {
  std::string path = KORVEL_VECTORS_FILE;
  std::string filter;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--opcode" && i + 1 < argc)
      filter = argv[++i];
    else if (!arg.empty() && arg[0] != '-')
      path = arg;
    else {
      std::fprintf(stderr, "usage: %s [FILE] [--opcode PREFIX]\n", argv[0]);
      return 2;
    }
  }

  std::vector<Vector> vectors;
  std::string error;
  if (!readVectors(path, vectors, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }

  auto state = std::make_unique<MachineState>();
  CountingDisplay display;
  CountingStop stop;
  VectorPorts ports;
  korvel::Machine machine(*state, {&display, &ports, &ports, &stop});
  std::vector<std::int32_t> expectedMemory(korvel::kMemorySize, 0);

  constexpr int kShownFailures = 50;
  int passed = 0, failed = 0;
  std::map<std::string, int> failingOpcodes;
  for (const Vector& v : vectors) {
    if (!startsWith(v.name, filter)) continue;
    std::vector<std::string> problems;
    load(*state, v.before);
    ports.start(v.reads, &problems);
    display.calls = 0;
    machine.clock_Timer();

    compareRegisters(*state, v, problems);
    compareMemory(*state, v, expectedMemory, problems);
    comparePorts(ports, v, problems);
    if (machine.tickAbandoned()) problems.push_back("abandoned: expected 0, got 1");
    if (display.calls != 1)
      problems.push_back("ekran calls: expected 1, got " + std::to_string(display.calls));

    if (problems.empty()) {
      ++passed;
      continue;
    }
    if (failed < kShownFailures) {
      std::printf("FAIL %s (line %d, text \"%s\")\n", v.name.c_str(), v.line,
                  machine.instructionText().c_str());
      for (const std::string& p : problems) std::printf("  %s\n", p.c_str());
    }
    ++failed;
    ++failingOpcodes[opcodeOf(v.name)];
  }

  if (failed > kShownFailures) std::printf("(first %d failures shown)\n", kShownFailures);
  if (!failingOpcodes.empty()) {
    std::printf("failing opcodes:");
    for (const auto& [opcode, count] : failingOpcodes)
      std::printf(" [%s] x%d", opcode.c_str(), count);
    std::printf("\n");
  }
  if (passed + failed == 0) std::printf("no test name starts with \"%s\"\n", filter.c_str());
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
