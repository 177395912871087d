// Random 1401 programs as batch jobs, for comparing two builds of the emulator trace for trace
// (scripts/differential).  Each program is made from its seed alone, so a seed names the same
// program on every machine:
//
//   kestrel-randjobs [--clear-first] [--features] DIR FIRST-SEED COUNT [PER-JOB]
//
// writes into DIR one tape image per program (P<seed>.MT: record 1 is the whole core image with
// its word marks, loaded at 1 by the tape unit's Load; a few short records follow for the
// program's own tape reads), a card deck (CARDS.CD) and the jobs JOB<n>.OCL, each running PER-JOB
// programs (default 10) one after the other: reset, core size, mount, Load, eight Starts (after a
// stop each Start is a single step).  The job
// names go to standard output.  With --clear-first a small program of clear-storage instructions
// first writes every position, so that the tape's Load may read core under the
// uninitialised-read check.
//
// A program branches only forward, round an outer loop of three passes whose counter lies where
// no operand points, and ends in eight halts (one for each Start), so it ends by itself
// unless it rewrites its own branches.  Operands fall mostly on short fields with word marks;
// some point into the program itself (and patch later instructions), into the index registers,
// outside core or at characters no address may hold, and op codes, lengths and d-characters are
// sometimes wrong, so the machine checks come up too.  The special features' instructions (multiply,
// divide, move record, bit test, binary code and decode) and the column binary read and punch
// are among them with --features (such a job is to run with every feature installed).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// splitmix64: the same numbers from a seed everywhere (the standard distributions are not).
class TRandom {
 public:
  explicit TRandom(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }
  unsigned Between(unsigned low, unsigned high) { return low + Below(high - low + 1); }
  bool Percent(unsigned p) { return Below(100) < p; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(static_cast<unsigned>(items.size()))];
  }

 private:
  uint64_t state_;
};

constexpr uint8_t Zero = 10;

uint8_t DigitCode(unsigned d) {
  return static_cast<uint8_t>(d == 0 ? Zero : d);
}

// The three codes of a stored address.
void AddressCodes(unsigned value, uint8_t out[3]) {
  unsigned low = value % 1000;
  out[0] = static_cast<uint8_t>(DigitCode(low / 100) + 16 * (value % 4000 / 1000));
  out[1] = DigitCode(low / 10 % 10);
  out[2] = static_cast<uint8_t>(DigitCode(low % 10) + 16 * (value / 4000));
}

// Core as the program sees it at the start: a code and a word mark per position.
struct TImage {
  std::vector<uint8_t> Code;
  std::vector<bool> Mark;
  explicit TImage(unsigned length) : Code(length, 0), Mark(length, false) {}
  void Put(unsigned address, uint8_t code, bool mark) {
    if (address >= Code.size()) return;
    Code[address] = code;
    Mark[address] = mark;
  }
};

// Layout of every program (addresses).
constexpr unsigned IndexA = 89, IndexB = 94, IndexAB = 99;
constexpr unsigned ProtectedStart = 333;  // up to the program: no operand points here
constexpr unsigned CounterUnits = 345, OneUnits = 347, ZeroUnits = 350;  // the loop's own fields
constexpr unsigned ProgramStart = 400;
constexpr unsigned DataStart = 700;
constexpr unsigned Starts = 8;

// Codes a tape record cannot carry into core: the tape mark character, the A-zone blank (read
// back as 0) and the word separator.
bool Loadable(uint8_t code) {
  return code != 15 && code != 16 && code != 29;
}

uint8_t RandomCode(TRandom& rnd) {
  uint8_t code;
  do {
    code = static_cast<uint8_t>(rnd.Below(64));
  } while (!Loadable(code));
  return code;
}

// Op codes by how often they appear.
struct TOp {
  uint8_t Code;
  unsigned Weight;
};
const std::vector<TOp> Ops = {
    {36, 14},  // MCW
    {35, 8},   // LCA
    {49, 10},  // A
    {18, 8},   // S
    {58, 6},   // ZA
    {42, 4},   // ZS
    {51, 8},   // C
    {50, 10},  // B
    {21, 4},   // BWZ
    {25, 4},   // MCS
    {53, 4},   // MCE
    {24, 3},   // MZ
    {52, 3},   // MN
    {27, 3},   // SW
    {60, 3},   // CW
    {11, 3},   // MA
    {40, 2},   // SAR
    {56, 2},   // SBR
    {17, 1},   // CS
    {37, 1},   // NOP
    {2, 1},    // W
    {1, 1},    // R
    {4, 1},    // P
    {54, 1},   // CC
    {34, 1},   // SS
    {8, 1},    // SRF
    {59, 1},   // H
};
// With --features, these too (the job installs every special feature).
const std::vector<TOp> FeatureOps = {
    {12, 4},  // M
    {28, 4},  // D
    {39, 2},  // MCM
    {22, 4},  // BBE
};

uint8_t RandomOp(TRandom& rnd, bool features) {
  if (rnd.Below(200) == 0) return static_cast<uint8_t>(rnd.Below(64));  // perhaps no instruction
  std::vector<TOp> ops = Ops;
  if (features) ops.insert(ops.end(), FeatureOps.begin(), FeatureOps.end());
  unsigned total = 0;
  for (const TOp& op : ops)
    total += op.Weight;
  unsigned pick = rnd.Below(total);
  for (const TOp& op : ops) {
    if (pick < op.Weight) return op.Code;
    pick -= op.Weight;
  }
  return 36;
}

class TProgram {
 public:
  TProgram(uint64_t seed, unsigned coreSize, bool features)
      : features_(features),
        rnd_(seed),
        size_(coreSize),
        // The Load reads the position after the record too, so that one must be inside core.
        loaded_(coreSize == 1400 ? 1398 : rnd_.Between(1500, std::min(coreSize - 2, 2600u))),
        image_(loaded_ + 1) {}

  void Build() {
    FillData();
    // 1: branch to the program; the tape Load starts the machine at 1.
    PutInstruction(1, {50, 0, 0, 0}, 4);
    Address(ProgramStart, &image_.Code[2]);
    image_.Mark[5] = true;
    // The loop's fields, where no operand points.
    Field(CounterUnits, {Zero, 3});
    Field(OneUnits, {1});
    Field(ZeroUnits, {Zero, 58});  // plus zero, as the subtract leaves it
    Body();
  }

  unsigned CoreSize() const { return size_; }
  // The positions the tape's Load fills are 1 to this.
  unsigned Loaded() const { return loaded_; }

  // The record that loads core from 1: a word separator before each marked character.
  std::vector<uint8_t> LoadRecord() const {
    std::vector<uint8_t> bytes;
    for (unsigned a = 1; a <= loaded_; ++a) {
      if (image_.Mark[a]) bytes.push_back(29);
      uint8_t code = image_.Code[a];
      bytes.push_back(code == 0 ? 16 : code);
    }
    return bytes;
  }

  std::vector<uint8_t> DataRecord() {
    std::vector<uint8_t> bytes;
    unsigned length = rnd_.Between(1, 60);
    for (unsigned i = 0; i < length; ++i) {
      if (rnd_.Percent(15)) bytes.push_back(29);
      uint8_t code = RandomCode(rnd_);
      bytes.push_back(code == 0 ? 16 : code);
    }
    return bytes;
  }

 private:
  void Address(unsigned value, uint8_t* out) { AddressCodes(value, out); }

  void Field(unsigned units, const std::vector<uint8_t>& codes) {
    unsigned first = units + 1 - static_cast<unsigned>(codes.size());
    for (unsigned i = 0; i < codes.size(); ++i)
      image_.Put(first + i, codes[i], i == 0);
  }

  // Short fields of digits (a sign on some), text and any code, each with its word mark.
  void FillData() {
    for (unsigned a = 1; a <= loaded_; ++a)
      image_.Put(a, RandomCode(rnd_), rnd_.Percent(20));
    // Index registers hold small addresses.
    for (unsigned reg : {IndexA, IndexB, IndexAB}) {
      uint8_t codes[3];
      Address(rnd_.Below(300), codes);
      Field(reg, {codes[0], codes[1], codes[2]});
    }
    for (unsigned a = DataStart; a + 12 < loaded_;) {
      unsigned length = rnd_.Between(1, 10);
      std::vector<uint8_t> codes;
      unsigned kind = rnd_.Below(10);
      for (unsigned i = 0; i < length; ++i) {
        uint8_t code = kind < 6 ? DigitCode(rnd_.Below(10)) : RandomCode(rnd_);
        codes.push_back(code);
      }
      if (kind < 6 && rnd_.Percent(40)) {
        codes.back() = static_cast<uint8_t>((codes.back() & 15) | (rnd_.Percent(50) ? 32 : 48));
      }
      if (kind == 9 && length >= 3) {
        // An address constant, for a patch of a later instruction.
        uint8_t address[3];
        Address(RandomDataAddress(), address);
        codes.assign(address, address + 3);
        patchSources_.push_back(a + 2);
        length = 3;
      }
      Field(a + length - 1, codes);
      a += length;
    }
  }

  unsigned RandomDataAddress() { return rnd_.Between(DataStart + 12, loaded_ - 1); }

  // An operand: mostly a data field, sometimes anywhere that exercises a check or a rule.
  void Operand(uint8_t out[3], bool allowIO) {
    unsigned kind = rnd_.Below(1000);
    unsigned value;
    if (kind < 720) {
      value = RandomDataAddress();
    } else if (kind < 800) {
      value = rnd_.Between(1, 99);
    } else if (kind < 860) {
      value = rnd_.Between(100, 332);
    } else if (kind < 900) {
      value = ProgramPosition();
    } else if (kind < 905) {
      value = rnd_.Between(size_, 15999);  // outside core
    } else if (kind < 908) {
      value = 0;
    } else if (kind < 968) {
      Address(rnd_.Between(DataStart, loaded_ - 310), out);
      out[1] = static_cast<uint8_t>(out[1] | (16 * rnd_.Between(1, 3)));  // an index register
      return;
    } else if (kind < 983 && allowIO) {
      out[0] = 28;  // %
      out[1] = rnd_.Percent(90) ? 20 : RandomCode(rnd_);
      out[2] = rnd_.Percent(90) ? static_cast<uint8_t>(rnd_.Between(1, 2)) : RandomCode(rnd_);
      return;
    } else if (kind < 990) {
      Address(RandomDataAddress(), out);
      out[rnd_.Below(3)] = static_cast<uint8_t>(11 + rnd_.Below(5));  // no address holds these
      return;
    } else {
      do {
        value = rnd_.Between(1, loaded_);
      } while (value >= ProtectedStart && value < ProgramStart);
    }
    Address(value, out);
  }

  // A position inside an instruction that is no branch (a branch rewritten might run backward
  // for ever), or past the program.
  unsigned ProgramPosition() {
    for (int tries = 0; tries < 8 && !starts_.empty(); ++tries) {
      size_t i = rnd_.Below(static_cast<unsigned>(starts_.size()));
      if (!IsBranch(ops_[i], lengths_[i])) return starts_[i] + rnd_.Below(lengths_[i]);
    }
    return rnd_.Between(loopEnd_ + 24, DataStart - 1);
  }

  void PutInstruction(unsigned at, std::vector<uint8_t> codes, unsigned length) {
    for (unsigned i = 0; i < length && i < codes.size(); ++i)
      image_.Put(at + i, codes[i], i == 0);
    image_.Put(at + length, image_.Code[at + length], true);
  }

  // The instructions from ProgramStart: forward branches only, then the loop and the halts.
  void Body() {
    const unsigned count = rnd_.Between(10, 40);
    // Where each instruction starts: lengths first, so branches can aim at later ones.
    unsigned at = ProgramStart;
    for (unsigned i = 0; i < count && at + 20 < DataStart - 30; ++i) {
      uint8_t op = RandomOp(rnd_, features_);
      unsigned length = LengthFor(op);
      ops_.push_back(op);
      lengths_.push_back(length);
      starts_.push_back(at);
      at += length;
    }
    loopEnd_ = at;
    auto forward = [&](size_t i) {
      if (rnd_.Percent(20)) return loopEnd_;
      size_t later = i + 1 + rnd_.Below(static_cast<unsigned>(starts_.size() - i));
      return later < starts_.size() ? starts_[later] : loopEnd_;
    };
    for (size_t i = 0; i < starts_.size(); ++i) {
      uint8_t op = ops_[i];
      unsigned length = lengths_[i];
      std::vector<uint8_t> codes(9, 0);
      codes[0] = op;
      uint8_t a[3], b[3];
      Operand(a, op == 36 || op == 35 || op == 20);
      Operand(b, false);
      if (IsBranch(op, length)) Address(forward(i), a);
      if (op == 36 && length == 7 && !patchSources_.empty() && rnd_.Percent(30) &&
          i + 1 < starts_.size()) {
        // Patch the A-address of a later instruction: it then works on another field.
        size_t target = i + 1 + rnd_.Below(static_cast<unsigned>(starts_.size() - i - 1));
        if (lengths_[target] >= 4 && !IsBranch(ops_[target], lengths_[target])) {
          Address(rnd_.Pick(patchSources_), a);
          Address(starts_[target] + 3, b);
        }
      }
      for (int k = 0; k < 3; ++k) {
        codes[1 + k] = a[k];
        codes[4 + k] = b[k];
      }
      if (length == 2) codes[1] = DModifier(op);
      if (length == 5) codes[4] = DModifier(op);
      if (length >= 8) codes[7] = DModifier(op);
      PutInstruction(starts_[i], codes, length);
      for (unsigned k = 8; k < length; ++k)
        image_.Put(starts_[i] + k, RandomCode(rnd_), false);
    }
    // The outer loop: three passes, then a halt for each Start.
    std::vector<uint8_t> s = {18, 0, 0, 0, 0, 0, 0};
    Address(OneUnits, &s[1]);
    Address(CounterUnits, &s[4]);
    PutInstruction(loopEnd_, s, 7);
    std::vector<uint8_t> c = {51, 0, 0, 0, 0, 0, 0};
    Address(ZeroUnits, &c[1]);
    Address(CounterUnits, &c[4]);
    PutInstruction(loopEnd_ + 7, c, 7);
    std::vector<uint8_t> b = {50, 0, 0, 0, 17};  // branch if unequal
    Address(ProgramStart, &b[1]);
    PutInstruction(loopEnd_ + 14, b, 5);
    for (unsigned k = 0; k < Starts; ++k)
      PutInstruction(loopEnd_ + 19 + k, {59}, 1);
  }

  // The instructions that take their A-address as a branch address in this length.
  bool IsBranch(uint8_t op, unsigned length) const {
    if (op == 22 && features_) return true;  // BBE
    switch (op) {
      case 50:
      case 21:
        return true;
      case 59:
        return length == 4;
      case 17:
        return length == 7;
      case 34:
      case 54:
        return length == 5;
      default:
        return op >= 1 && op <= 9 && length == 4;
    }
  }

  unsigned LengthFor(uint8_t op) {
    if (rnd_.Below(200) == 0) return rnd_.Percent(50) ? 3 : 6;  // a word mark where none may be
    if (rnd_.Percent(1)) return rnd_.Between(9, 11);            // extra characters
    if (features_) {
      // BBE has eight characters; R and P with the d-character C read and punch column binary.
      if (op == 22) return 8;
      if (op == 1 || op == 4) return rnd_.Pick(std::vector<unsigned>{1, 4, 2, 5});
    }
    switch (op) {
      case 50:  // B: 4 always, 5 on an indicator, 8 on a character, 7 ignored (never chained,
                // which would branch wherever the instruction before left AAR)
        return rnd_.Pick(std::vector<unsigned>{4, 5, 5, 8, 8, 7});
      case 21:
        return 8;
      case 59:
        return rnd_.Percent(50) ? 4 : 1;
      case 17:
      case 27:
      case 60:
        return rnd_.Pick(std::vector<unsigned>{1, 4, 7});
      case 11:
      case 40:
      case 56:
        return rnd_.Pick(std::vector<unsigned>{4, 7, 7});
      case 1:
      case 2:
      case 4:
      case 8:
        return rnd_.Pick(std::vector<unsigned>{1, 4});
      case 54:
      case 34:
        return rnd_.Pick(std::vector<unsigned>{2, 5});
      case 36:
      case 35:
        return rnd_.Pick(std::vector<unsigned>{7, 7, 7, 7, 8, 4, 1});
      default:
        return rnd_.Pick(std::vector<unsigned>{7, 7, 7, 7, 4, 1});
    }
  }

  uint8_t DModifier(uint8_t op) {
    if (rnd_.Percent(4)) return RandomCode(rnd_);
    if (features_) {
      switch (op) {
        case 36:  // tape read or write for the % form; binary decode (A) and code (B)
          return rnd_.Pick(std::vector<uint8_t>{41, 22, 49, 50, 49, 50});
        case 1:
        case 4:
          return 51;  // C: column binary
        case 22:
          return rnd_.Pick(std::vector<uint8_t>{1, 2, 4, 8, 16, 32, 63, 7});  // the bits to test
        default:
          break;
      }
    }
    switch (op) {
      case 50:  // indicators and sense switches
        return rnd_.Pick(std::vector<uint8_t>{9, 12, 17, 18, 19, 20, 25, 34, 35, 39, 41, 49, 50});
      case 21:
        return rnd_.Pick(std::vector<uint8_t>{1, 2, 3, 18, 19, 34, 35, 50, 51});
      case 36:
      case 35:
        return rnd_.Pick(std::vector<uint8_t>{41, 22});  // tape read or write for the % form
      case 54:
        return rnd_.Pick(std::vector<uint8_t>{1, 2, 3, 10, 49, 50, 60});
      case 34:
        return rnd_.Pick(std::vector<uint8_t>{1, 2, 4, 8});
      default:
        return RandomCode(rnd_);
    }
  }

  bool features_;
  TRandom rnd_;
  unsigned size_;
  unsigned loaded_;
  TImage image_;
  std::vector<unsigned> patchSources_;
  std::vector<uint8_t> ops_;
  std::vector<unsigned> lengths_, starts_;
  unsigned loopEnd_ = DataStart;
};

void PutLength(std::vector<uint8_t>& out, size_t n) {
  for (int k = 0; k < 4; ++k)
    out.push_back(static_cast<uint8_t>(n >> (8 * k)));
}

// One record of the MT layout: length, bytes, a pad byte after an odd count, length.
void PutRecord(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  PutLength(out, bytes.size());
  out.insert(out.end(), bytes.begin(), bytes.end());
  if (bytes.size() % 2 != 0) out.push_back(0);
  PutLength(out, bytes.size());
}

// Statements that place a chain of clear-storage instructions at 1 and run it: the first clears
// the hundred positions up to `top`, each one-character one after it the hundred below, the last
// one itself too (the run then ends at the position it cleared, which has no word mark any more).
// Positions above `top` stay unwritten.
std::string ClearFirst(unsigned top) {
  std::string text;
  auto character = [&](unsigned address, unsigned code) {
    text += "CORE CHAR [" + std::to_string(address) + "] = " + std::to_string(code) + "\n";
  };
  auto mark = [&](unsigned address) { text += "CORE MARK [" + std::to_string(address) + "] ON\n"; };
  uint8_t codes[3];
  AddressCodes(top, codes);
  character(1, 17);
  mark(1);
  for (unsigned k = 0; k < 3; ++k)
    character(2 + k, codes[k]);
  unsigned at = 5;
  for (unsigned hundreds = top / 100; hundreds > 0; --hundreds, ++at) {
    character(at, 17);
    mark(at);
  }
  mark(at);
  return text + "START\n";
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  bool clearFirst = false;
  bool features = false;
  while (argc > 1 && (std::string(argv[1]) == "--clear-first" || std::string(argv[1]) == "--features")) {
    (std::string(argv[1]) == "--features" ? features : clearFirst) = true;
    --argc;
    ++argv;
  }
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: kestrel-randjobs [--clear-first] [--features] DIR FIRST-SEED COUNT [PER-JOB]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const uint64_t first = std::strtoull(argv[2], nullptr, 10);
  const unsigned count = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10));
  const unsigned perJob = argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 10;
  if (count == 0 || perJob == 0) {
    std::fprintf(stderr, "kestrel-randjobs: COUNT and PER-JOB must be at least 1\n");
    return 2;
  }

  // Cards for the reads: letters, digits and blanks, which every character mapping has.
  std::string cards;
  TRandom cardRandom(first);
  const char* const chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ";
  for (int card = 0; card < 400; ++card) {
    for (int column = 0; column < 80; ++column)
      cards += chars[cardRandom.Below(37)];
    cards += '\n';
  }
  if (!WriteFile(dir + "/CARDS.CD", cards)) {
    std::fprintf(stderr, "kestrel-randjobs: cannot write into %s\n", dir.c_str());
    return 1;
  }

  const unsigned sizes[] = {1400, 2000, 4000};
  std::string job;
  unsigned jobNumber = 0;
  for (unsigned n = 0; n < count; ++n) {
    const uint64_t seed = first + n;
    TRandom pick(seed ^ 0x5DEECE66Dull);
    TProgram program(seed, sizes[pick.Below(3)], features);
    program.Build();
    std::vector<uint8_t> tape;
    PutRecord(tape, program.LoadRecord());
    for (int r = 0; r < 4; ++r)
      PutRecord(tape, program.DataRecord());
    PutLength(tape, 0);  // tape mark
    const std::string tapeName = "P" + std::to_string(seed) + ".MT";
    if (!WriteFile(dir + "/" + tapeName, std::string(tape.begin(), tape.end()))) return 1;

    if (job.empty())
      job = "* random programs from seed " + std::to_string(seed) + "\nDECK 'CARDS.CD'\n";
    job += "RESET\nCORE SIZE " + std::to_string(program.CoreSize()) + "\n";
    if (clearFirst)
      job += ClearFirst(std::min(program.Loaded() / 100 * 100 + 99, program.CoreSize() - 1));
    job += "MOUNT TAPE1 '" + tapeName + "'\nLOAD TAPE1\n";
    for (unsigned k = 0; k < Starts; ++k)
      job += "START\n";
    if ((n + 1) % perJob == 0 || n + 1 == count) {
      job += "SAVE PUNCH 'PUNCH.CD'\n";
      const std::string name = "JOB" + std::to_string(jobNumber++) + ".OCL";
      if (!WriteFile(dir + "/" + name, job)) return 1;
      std::printf("%s\n", name.c_str());
      job.clear();
    }
  }
  return 0;
}
