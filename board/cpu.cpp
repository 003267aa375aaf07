#include "board/cpu.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "board/instruction_table.h"

namespace vantor::board {

namespace {

constexpr std::uint32_t kPcMask = 0xFFFFFF;

constexpr unsigned Bytes(Size s) {
  return s == Size::kLong ? 4 : s == Size::kWord ? 2 : 1;
}

constexpr std::uint32_t SizeMask(unsigned bytes) {
  return bytes == 4 ? 0xFFFFFFFFu : bytes == 2 ? 0xFFFFu : 0xFFu;
}

std::uint32_t Ext(const std::uint8_t* b, unsigned nibble, unsigned bytes) {
  const std::uint8_t* p = b + nibble / 2;
  std::uint32_t v = 0;
  for (unsigned i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

}  // namespace

// Carries out one decoded instruction on the core. Data accesses go through
// the bus, which counts their states.
struct Executor {
  Cpu& c;
  const InstructionForm& f;
  const std::uint8_t* b;
  std::uint32_t address;  // of the instruction

  // ---- registers --------------------------------------------------------
  std::uint32_t GetB(unsigned n) const {
    return n < 8 ? (c.er_[n] >> 8) & 0xFF : c.er_[n - 8] & 0xFF;
  }
  void SetB(unsigned n, std::uint32_t v) {
    if (n < 8) {
      c.er_[n] = (c.er_[n] & 0xFFFF00FFu) | (v & 0xFF) << 8;
    } else {
      c.er_[n - 8] = (c.er_[n - 8] & 0xFFFFFF00u) | (v & 0xFF);
    }
  }
  std::uint32_t GetW(unsigned n) const { return n < 8 ? c.er_[n] & 0xFFFF : c.er_[n - 8] >> 16; }
  void SetW(unsigned n, std::uint32_t v) {
    if (n < 8) {
      c.er_[n] = (c.er_[n] & 0xFFFF0000u) | (v & 0xFFFF);
    } else {
      c.er_[n - 8] = (c.er_[n - 8] & 0xFFFFu) | (v & 0xFFFF) << 16;
    }
  }
  unsigned Reg(const Operand& o) const { return Nibble(b, o.regNibble); }

  // ---- effective addresses and operands -----------------------------------
  // The address of a memory operand of `bytes` bytes; applies the pre-decrement
  // and post-increment of @-ERn and @ERn+.
  std::uint32_t Ea(const Operand& o, unsigned bytes) {
    switch (o.mode) {
      case Mode::kInd:
        return c.er_[Reg(o) & 7];
      case Mode::kDisp16:
        return c.er_[Reg(o) & 7] +
               static_cast<std::uint32_t>(static_cast<std::int16_t>(Ext(b, o.extNibble, 2)));
      case Mode::kDisp32:
        return c.er_[Reg(o) & 7] + Ext(b, o.extNibble, 4);
      case Mode::kPostInc: {
        std::uint32_t& r = c.er_[Reg(o) & 7];
        const std::uint32_t ea = r;
        r += bytes;
        return ea;
      }
      case Mode::kPreDec: {
        std::uint32_t& r = c.er_[Reg(o) & 7];
        r -= bytes;
        return r;
      }
      case Mode::kAbs8:
        return 0xFFFF00u | Ext(b, o.extNibble, 1);
      case Mode::kAbs16:
        return static_cast<std::uint32_t>(static_cast<std::int16_t>(Ext(b, o.extNibble, 2)));
      case Mode::kAbs24:
        return Ext(b, o.extNibble, 3);
      case Mode::kAbs32:
        return Ext(b, o.extNibble, 4);
      default:
        return 0;
    }
  }
  static bool IsRegister(Mode m) {
    return m == Mode::kRegB || m == Mode::kRegW || m == Mode::kRegL;
  }

  std::uint32_t Load(std::uint32_t ea, unsigned bytes) {
    switch (bytes) {
      case 1:
        return c.bus_.Read8(ea);
      case 2:
        return c.bus_.Read16(ea);
      default:
        return c.bus_.Read32(ea);
    }
  }
  void Store(std::uint32_t ea, unsigned bytes, std::uint32_t v) {
    switch (bytes) {
      case 1:
        c.bus_.Write8(ea, static_cast<std::uint8_t>(v));
        break;
      case 2:
        c.bus_.Write16(ea, static_cast<std::uint16_t>(v));
        break;
      default:
        c.bus_.Write32(ea, v);
        break;
    }
  }

  // Reads a source operand (register, immediate, constant or memory).
  std::uint32_t Read(const Operand& o, unsigned bytes) {
    switch (o.mode) {
      case Mode::kRegB:
        return GetB(Reg(o));
      case Mode::kRegW:
        return GetW(Reg(o));
      case Mode::kRegL:
        return c.er_[Reg(o) & 7];
      case Mode::kImm:
        return Ext(b, o.extNibble, bytes);
      case Mode::kConst:
        return o.value;
      case Mode::kCcr:
        return c.ccr_;
      case Mode::kExr:
        return c.exr();
      default:
        return Load(Ea(o, bytes), bytes);
    }
  }
  void WriteReg(const Operand& o, std::uint32_t v) {
    switch (o.mode) {
      case Mode::kRegB:
        SetB(Reg(o), v);
        break;
      case Mode::kRegW:
        SetW(Reg(o), v);
        break;
      default:
        c.er_[Reg(o) & 7] = v;
        break;
    }
  }

  // ---- flags ------------------------------------------------------------
  void Flag(std::uint8_t bit, bool on) {
    c.ccr_ = static_cast<std::uint8_t>(on ? c.ccr_ | bit : c.ccr_ & ~bit);
  }
  void SetNZ(std::uint32_t v, unsigned bytes) {
    const std::uint32_t m = SizeMask(bytes);
    const unsigned flags = ((v >> (bytes * 8 - 1)) & 1 ? kCcrN : 0) | ((v & m) == 0 ? kCcrZ : 0);
    c.ccr_ = static_cast<std::uint8_t>((c.ccr_ & ~(kCcrN | kCcrZ)) | flags);
  }
  // N and Z from the value, V cleared: moves, logic, extensions.
  void SetLogic(std::uint32_t v, unsigned bytes) {
    const std::uint32_t m = SizeMask(bytes);
    const unsigned flags = ((v >> (bytes * 8 - 1)) & 1 ? kCcrN : 0) | ((v & m) == 0 ? kCcrZ : 0);
    c.ccr_ = static_cast<std::uint8_t>((c.ccr_ & ~(kCcrN | kCcrZ | kCcrV)) | flags);
  }
  static std::uint32_t HalfMask(unsigned bytes) {
    return bytes == 1 ? 0xFu : bytes == 2 ? 0xFFFu : 0xFFFFFFFu;
  }

  // d + s + carry with every flag; H is the carry out of bit 3, 11 or 27.
  std::uint32_t Add(std::uint32_t d, std::uint32_t s, unsigned carry, unsigned bytes) {
    const std::uint32_t m = SizeMask(bytes);
    const std::uint64_t wide = std::uint64_t{d & m} + (s & m) + carry;
    const std::uint32_t r = static_cast<std::uint32_t>(wide) & m;
    const unsigned top = bytes * 8 - 1;
    const std::uint32_t hm = HalfMask(bytes);
    // One write of CCR (it is a byte, which the compiler must assume may
    // alias anything).
    const unsigned flags = ((d & hm) + (s & hm) + carry > hm ? kCcrH : 0) |
                           ((((d ^ r) & (s ^ r)) >> top) & 1 ? kCcrV : 0) |
                           ((wide >> (top + 1)) & 1 ? kCcrC : 0) | ((r >> top) & 1 ? kCcrN : 0);
    c.ccr_ = static_cast<std::uint8_t>((c.ccr_ & ~(kCcrH | kCcrV | kCcrC | kCcrN)) | flags);
    return r;
  }
  // d - s - borrow with every flag; H is the borrow into bit 3, 11 or 27.
  std::uint32_t Sub(std::uint32_t d, std::uint32_t s, unsigned borrow, unsigned bytes) {
    const std::uint32_t m = SizeMask(bytes);
    d &= m;
    s &= m;
    const std::uint32_t r = (d - s - borrow) & m;
    const unsigned top = bytes * 8 - 1;
    const std::uint32_t hm = HalfMask(bytes);
    const unsigned flags = ((s & hm) + borrow > (d & hm) ? kCcrH : 0) |
                           ((((d ^ s) & (d ^ r)) >> top) & 1 ? kCcrV : 0) |
                           (std::uint64_t{s} + borrow > d ? kCcrC : 0) |
                           ((r >> top) & 1 ? kCcrN : 0);
    c.ccr_ = static_cast<std::uint8_t>((c.ccr_ & ~(kCcrH | kCcrV | kCcrC | kCcrN)) | flags);
    return r;
  }

  bool Condition(unsigned cc) const {
    const bool C = c.ccr_ & kCcrC, Z = c.ccr_ & kCcrZ, N = c.ccr_ & kCcrN, V = c.ccr_ & kCcrV;
    switch (cc) {
      case 0x0:
        return true;
      case 0x1:
        return false;
      case 0x2:
        return !(C || Z);
      case 0x3:
        return C || Z;
      case 0x4:
        return !C;
      case 0x5:
        return C;
      case 0x6:
        return !Z;
      case 0x7:
        return Z;
      case 0x8:
        return !V;
      case 0x9:
        return V;
      case 0xA:
        return !N;
      case 0xB:
        return N;
      case 0xC:
        return N == V;
      case 0xD:
        return N != V;
      case 0xE:
        return !Z && N == V;
      default:
        return Z || N != V;
    }
  }

  void Push32(std::uint32_t v) {
    c.er_[7] -= 4;
    c.bus_.Write32(c.er_[7], v);
  }
  std::uint32_t Pop32() {
    const std::uint32_t v = c.bus_.Read32(c.er_[7]);
    c.er_[7] += 4;
    return v;
  }

  // ---- the operations -----------------------------------------------------
  // Returns false when the bits, though matching a row, name no valid
  // instruction (an LDM/STM register list the core does not have). Covers
  // every operation; moves and register/immediate arithmetic normally run
  // through the specialised executors below instead.
  bool Run() {
    const unsigned n = Bytes(f.size);
    switch (f.op) {
      case Op::kMov: {
        // The source is read before a pre-decremented destination moves.
        const std::uint32_t v = Read(f.src, n) & SizeMask(n);
        if (IsRegister(f.dst.mode)) {
          WriteReg(f.dst, v);
        } else {
          Store(Ea(f.dst, n), n, v);
        }
        SetLogic(v, n);
        return true;
      }
      case Op::kAdd:
      case Op::kSub:
      case Op::kCmp:
      case Op::kAddx:
      case Op::kSubx: {
        const std::uint32_t s = Read(f.src, n);
        const std::uint32_t d = Read(f.dst, n);
        const bool z = c.ccr_ & kCcrZ;
        const unsigned carry = c.ccr_ & kCcrC;
        std::uint32_t r;
        if (f.op == Op::kAdd) {
          r = Add(d, s, 0, n);
        } else if (f.op == Op::kAddx) {
          r = Add(d, s, carry, n);
        } else if (f.op == Op::kSubx) {
          r = Sub(d, s, carry, n);
        } else {
          r = Sub(d, s, 0, n);
        }
        // ADDX and SUBX leave Z set only if it was set and the result is 0.
        Flag(kCcrZ, (f.op == Op::kAddx || f.op == Op::kSubx) ? z && r == 0 : r == 0);
        if (f.op != Op::kCmp) WriteReg(f.dst, r);
        return true;
      }
      case Op::kNeg: {
        const std::uint32_t r = Sub(0, Read(f.dst, n), 0, n);
        Flag(kCcrZ, r == 0);
        WriteReg(f.dst, r);
        return true;
      }
      case Op::kAdds:
      case Op::kSubs: {
        std::uint32_t& r = c.er_[Reg(f.dst) & 7];
        r = f.op == Op::kAdds ? r + f.src.value : r - f.src.value;
        return true;
      }
      case Op::kInc:
      case Op::kDec: {
        // N, Z and V only; H and C keep their values.
        const std::uint32_t k = f.src.mode == Mode::kConst ? f.src.value : 1;
        const std::uint32_t d = Read(f.dst, n);
        const std::uint32_t m = SizeMask(n);
        const std::uint32_t r = (f.op == Op::kInc ? d + k : d - k) & m;
        const unsigned top = n * 8 - 1;
        const bool v = f.op == Op::kInc ? ((~d & r) >> top) & 1 : ((d & ~r) >> top) & 1;
        Flag(kCcrV, v);
        SetNZ(r, n);
        WriteReg(f.dst, r);
        return true;
      }
      case Op::kDaa: {
        std::uint32_t d = Read(f.dst, 1);
        unsigned adjust = 0;
        bool carry = c.ccr_ & kCcrC;
        if ((c.ccr_ & kCcrH) || (d & 0xF) > 9) adjust |= 0x06;
        if (carry || d > 0x99) {
          adjust |= 0x60;
          carry = true;
        }
        d = (d + adjust) & 0xFF;
        Flag(kCcrC, carry);
        SetNZ(d, 1);
        WriteReg(f.dst, d);
        return true;
      }
      case Op::kDas: {
        std::uint32_t d = Read(f.dst, 1);
        unsigned adjust = 0;
        if (c.ccr_ & kCcrH) adjust += 0xFA;
        if (c.ccr_ & kCcrC) adjust += 0xA0;
        d = (d + adjust) & 0xFF;
        SetNZ(d, 1);
        WriteReg(f.dst, d);
        return true;
      }
      case Op::kMulxu:
      case Op::kMulxs: {
        const unsigned dn = Reg(f.dst);
        if (f.size == Size::kByte) {
          const std::uint32_t s = GetB(Reg(f.src));
          const std::uint32_t d = GetW(dn) & 0xFF;
          std::uint32_t r;
          if (f.op == Op::kMulxu) {
            r = s * d;
          } else {
            r = static_cast<std::uint32_t>(static_cast<std::int8_t>(s) *
                                           static_cast<std::int8_t>(d));
            SetNZ(r, 2);
          }
          SetW(dn, r);
        } else {
          const std::uint32_t s = GetW(Reg(f.src));
          const std::uint32_t d = c.er_[dn & 7] & 0xFFFF;
          std::uint32_t r;
          if (f.op == Op::kMulxu) {
            r = s * d;
          } else {
            r = static_cast<std::uint32_t>(static_cast<std::int16_t>(s) *
                                           static_cast<std::int16_t>(d));
            SetNZ(r, 4);
          }
          c.er_[dn & 7] = r;
        }
        return true;
      }
      case Op::kDivxu:
      case Op::kDivxs:
        Divide(n);
        return true;
      case Op::kExtu:
      case Op::kExts: {
        const std::uint32_t d = Read(f.dst, n);
        std::uint32_t r;
        if (n == 2) {
          r = f.op == Op::kExtu ? d & 0xFF
                                : static_cast<std::uint32_t>(static_cast<std::int8_t>(d)) & 0xFFFF;
        } else {
          r = f.op == Op::kExtu ? d & 0xFFFF
                                : static_cast<std::uint32_t>(static_cast<std::int16_t>(d));
        }
        SetLogic(r, n);
        WriteReg(f.dst, r);
        return true;
      }
      case Op::kTas: {
        const std::uint32_t ea = Ea(f.dst, 1);
        const std::uint32_t v = c.bus_.Read8(ea);
        SetLogic(v, 1);
        c.bus_.Write8(ea, static_cast<std::uint8_t>(v | 0x80));
        return true;
      }
      case Op::kAnd:
      case Op::kOr:
      case Op::kXor: {
        const std::uint32_t s = Read(f.src, n);
        const std::uint32_t d = Read(f.dst, n);
        const std::uint32_t r = (f.op == Op::kAnd  ? d & s
                                 : f.op == Op::kOr ? d | s
                                                   : d ^ s) &
                                SizeMask(n);
        SetLogic(r, n);
        WriteReg(f.dst, r);
        return true;
      }
      case Op::kNot: {
        const std::uint32_t r = ~Read(f.dst, n) & SizeMask(n);
        SetLogic(r, n);
        WriteReg(f.dst, r);
        return true;
      }
      case Op::kShal:
      case Op::kShar:
      case Op::kShll:
      case Op::kShlr:
      case Op::kRotl:
      case Op::kRotr:
      case Op::kRotxl:
      case Op::kRotxr:
        Shift(n);
        return true;
      case Op::kBset:
      case Op::kBclr:
      case Op::kBnot:
      case Op::kBtst:
      case Op::kBand:
      case Op::kBiand:
      case Op::kBor:
      case Op::kBior:
      case Op::kBxor:
      case Op::kBixor:
      case Op::kBld:
      case Op::kBild:
      case Op::kBst:
      case Op::kBist:
        BitOp();
        return true;
      case Op::kBcc:
        if (Condition(f.condition)) Jump(Target());
        return true;
      case Op::kBsr:
        Push32(c.pc_);
        Jump(Target());
        return true;
      case Op::kJmp:
      case Op::kJsr: {
        std::uint32_t target;
        if (f.dst.mode == Mode::kMemInd) {
          // Advanced mode: a 32-bit branch address in the vector area.
          target = c.bus_.Read32(Ext(b, f.dst.extNibble, 1));
        } else {
          target = Ea(f.dst, 4);
        }
        if (f.op == Op::kJsr) Push32(c.pc_);
        Jump(target);
        return true;
      }
      case Op::kRts:
        Jump(Pop32());
        return true;
      case Op::kRte: {
        if (c.interruptMode_ == 2) {
          c.set_exr(static_cast<std::uint8_t>(c.bus_.Read16(c.er_[7]) >> 8));
          c.er_[7] += 2;
        }
        const std::uint32_t v = Pop32();
        c.ccr_ = static_cast<std::uint8_t>(v >> 24);
        Jump(v);
        return true;
      }
      case Op::kTrapa:
        c.Exception(kVectorTrapa0 + f.dst.value, c.interruptMode_ == 2);
        return true;
      case Op::kLdc:
      case Op::kAndc:
      case Op::kOrc:
      case Op::kXorc: {
        std::uint32_t v = Read(f.src, n);
        if (n == 2) v >>= 8;  // LDC from memory: the word's upper byte
        const bool exr = f.dst.mode == Mode::kExr;
        const std::uint32_t old = exr ? c.exr() : c.ccr_;
        if (f.op == Op::kAndc) v &= old;
        if (f.op == Op::kOrc) v |= old;
        if (f.op == Op::kXorc) v ^= old;
        if (exr) {
          c.set_exr(static_cast<std::uint8_t>(v));
        } else {
          c.ccr_ = static_cast<std::uint8_t>(v);
        }
        return true;
      }
      case Op::kStc: {
        const std::uint32_t v = f.src.mode == Mode::kExr ? c.exr() : c.ccr_;
        if (IsRegister(f.dst.mode)) {
          WriteReg(f.dst, v);
        } else {
          Store(Ea(f.dst, 2), 2, v << 8 | v);
        }
        return true;
      }
      case Op::kNop:
        return true;
      case Op::kSleep:
        c.sleeping_ = true;
        if (!c.sleepHandler_ || !c.sleepHandler_(c)) {
          c.sleeping_ = false;
          c.stopped_ = true;
          c.stopReason_ = StopReason::kSleep;
          c.stopMessage_ = "sleep";
        }
        return true;
      case Op::kLdm:
      case Op::kStm: {
        const unsigned count = f.op == Op::kLdm ? f.dst.value : f.src.value;
        const unsigned named = Reg(f.op == Op::kLdm ? f.dst : f.src) & 7;
        const unsigned first = f.op == Op::kLdm ? named + 1 - count : named;
        // Lists start at a register number divisible by the count's span:
        // ER0/2/4/6 for two, ER0/4 for three and four.
        if ((f.op == Op::kLdm && named + 1 < count) || first % (count == 2 ? 2 : 4) != 0 ||
            first + count > 8) {
          return false;
        }
        if (f.op == Op::kStm) {
          for (unsigned r = first; r < first + count; ++r) Push32(c.er_[r]);
        } else {
          for (unsigned r = first + count; r-- > first;) c.er_[r] = Pop32();
        }
        return true;
      }
      case Op::kEepmovB:
      case Op::kEepmovW: {
        std::uint32_t count = f.op == Op::kEepmovB ? GetB(12) : GetW(4);
        while (count != 0) {
          const std::uint8_t v = c.bus_.Read8(c.er_[5]);
          c.bus_.Write8(c.er_[6], v);
          c.er_[5] += 1;
          c.er_[6] += 1;
          --count;
          if (f.op == Op::kEepmovB) {
            SetB(12, count);
          } else {
            SetW(4, count);
          }
        }
        return true;
      }
    }
    return false;
  }

  std::uint32_t Target() const {
    const std::int32_t disp = f.dst.mode == Mode::kPcRel8
                                  ? static_cast<std::int8_t>(Ext(b, f.dst.extNibble, 1))
                                  : static_cast<std::int16_t>(Ext(b, f.dst.extNibble, 2));
    return c.pc_ + static_cast<std::uint32_t>(disp);
  }
  void Jump(std::uint32_t target) { c.pc_ = target & kPcMask & ~1u; }

  void Divide(unsigned n) {
    // DIVXU/DIVXS: Rd (16 bits) / Rs (8) or ERd (32) / Rs (16); the
    // quotient goes to the low half, the remainder to the high half. Z tells
    // a zero divisor (the destination is left as it was); N is the divisor's
    // sign (DIVXU) or the quotient's (DIVXS).
    const unsigned dn = Reg(f.dst);
    const std::uint32_t s = n == 1 ? GetB(Reg(f.src)) : GetW(Reg(f.src));
    const unsigned bits = n * 8;
    const std::uint32_t d = n == 1 ? GetW(dn) : c.er_[dn & 7];
    const std::uint32_t half = SizeMask(n);
    Flag(kCcrZ, s == 0);
    if (f.op == Op::kDivxu) {
      Flag(kCcrN, (s >> (bits - 1)) & 1);
      if (s == 0) return;
      const std::uint32_t q = d / s;
      const std::uint32_t r = d % s;
      const std::uint32_t v = (r & half) << bits | (q & half);
      if (n == 1) {
        SetW(dn, v);
      } else {
        c.er_[dn & 7] = v;
      }
      return;
    }
    const std::int32_t sd = n == 1 ? static_cast<std::int8_t>(s) : static_cast<std::int16_t>(s);
    const std::int64_t dd = n == 1 ? static_cast<std::int16_t>(d) : static_cast<std::int32_t>(d);
    if (s == 0) {
      Flag(kCcrN, false);
      return;
    }
    const std::int64_t q = dd / sd;
    const std::int64_t r = dd % sd;
    Flag(kCcrN, q < 0);
    const std::uint32_t v =
        (static_cast<std::uint32_t>(r) & half) << bits | (static_cast<std::uint32_t>(q) & half);
    if (n == 1) {
      SetW(dn, v);
    } else {
      c.er_[dn & 7] = v;
    }
  }

  void Shift(unsigned n) {
    const unsigned count = f.src.mode == Mode::kConst ? f.src.value : 1;
    const unsigned top = n * 8 - 1;
    const std::uint32_t m = SizeMask(n);
    std::uint32_t v = Read(f.dst, n) & m;
    bool carry = c.ccr_ & kCcrC;
    bool overflow = false;
    for (unsigned i = 0; i < count; ++i) {
      const bool msb = (v >> top) & 1;
      const bool lsb = v & 1;
      switch (f.op) {
        case Op::kShal:
        case Op::kShll:
          v = (v << 1) & m;
          carry = msb;
          if (f.op == Op::kShal && ((v >> top) & 1) != msb) overflow = true;
          break;
        case Op::kShlr:
          v >>= 1;
          carry = lsb;
          break;
        case Op::kShar:
          v = (v >> 1) | (v & (1u << top));
          carry = lsb;
          break;
        case Op::kRotl:
          v = ((v << 1) | msb) & m;
          carry = msb;
          break;
        case Op::kRotr:
          v = (v >> 1) | (static_cast<std::uint32_t>(lsb) << top);
          carry = lsb;
          break;
        case Op::kRotxl:
          v = ((v << 1) | carry) & m;
          carry = msb;
          break;
        default:  // ROTXR
          v = (v >> 1) | (static_cast<std::uint32_t>(carry) << top);
          carry = lsb;
          break;
      }
    }
    Flag(kCcrC, carry);
    Flag(kCcrV, overflow);  // only SHAL can overflow
    SetNZ(v, n);
    WriteReg(f.dst, v);
  }

  void BitOp() {
    const unsigned bit =
        (f.src.mode == Mode::kRegB ? GetB(Reg(f.src)) : Nibble(b, f.src.regNibble)) & 7;
    const bool inRegister = f.dst.mode == Mode::kRegB;
    const std::uint32_t ea = inRegister ? 0 : Ea(f.dst, 1);
    const std::uint32_t v = inRegister ? GetB(Reg(f.dst)) : c.bus_.Read8(ea);
    const bool set = (v >> bit) & 1;
    const bool carry = c.ccr_ & kCcrC;
    std::uint32_t r = v;
    bool writes = true;
    switch (f.op) {
      case Op::kBset:
        r = v | 1u << bit;
        break;
      case Op::kBclr:
        r = v & ~(1u << bit);
        break;
      case Op::kBnot:
        r = v ^ 1u << bit;
        break;
      case Op::kBst:
        r = carry ? v | 1u << bit : v & ~(1u << bit);
        break;
      case Op::kBist:
        r = !carry ? v | 1u << bit : v & ~(1u << bit);
        break;
      default:
        writes = false;
        break;
    }
    switch (f.op) {
      case Op::kBtst:
        Flag(kCcrZ, !set);
        break;
      case Op::kBand:
        Flag(kCcrC, carry && set);
        break;
      case Op::kBiand:
        Flag(kCcrC, carry && !set);
        break;
      case Op::kBor:
        Flag(kCcrC, carry || set);
        break;
      case Op::kBior:
        Flag(kCcrC, carry || !set);
        break;
      case Op::kBxor:
        Flag(kCcrC, carry != set);
        break;
      case Op::kBixor:
        Flag(kCcrC, carry == set);
        break;
      case Op::kBld:
        Flag(kCcrC, set);
        break;
      case Op::kBild:
        Flag(kCcrC, !set);
        break;
      default:
        break;
    }
    if (!writes) return;
    if (inRegister) {
      SetB(Reg(f.dst), r);
    } else {
      c.bus_.Write8(ea, static_cast<std::uint8_t>(r));
    }
  }
};

// Specialised executors for the forms that make up most of a program's
// instructions (register and immediate arithmetic, moves, branches); chosen
// per table row from its operation, size and addressing modes. Every other
// form runs through the general Executor. Both give the same results; the
// tests run all of them.
struct FastPaths {
  template <unsigned N>
  static std::uint32_t Get(const Cpu& c, unsigned n) {
    if constexpr (N == 1) {
      return n < 8 ? (c.er_[n] >> 8) & 0xFF : c.er_[n - 8] & 0xFF;
    } else if constexpr (N == 2) {
      return n < 8 ? c.er_[n] & 0xFFFF : c.er_[n - 8] >> 16;
    } else {
      return c.er_[n & 7];
    }
  }
  template <unsigned N>
  static void Set(Cpu& c, unsigned n, std::uint32_t v) {
    if constexpr (N == 1) {
      if (n < 8) {
        c.er_[n] = (c.er_[n] & 0xFFFF00FFu) | (v & 0xFF) << 8;
      } else {
        c.er_[n - 8] = (c.er_[n - 8] & 0xFFFFFF00u) | (v & 0xFF);
      }
    } else if constexpr (N == 2) {
      if (n < 8) {
        c.er_[n] = (c.er_[n] & 0xFFFF0000u) | (v & 0xFFFF);
      } else {
        c.er_[n - 8] = (c.er_[n - 8] & 0xFFFFu) | (v & 0xFFFF) << 16;
      }
    } else {
      c.er_[n & 7] = v;
    }
  }

  // ADD/SUB/CMP/AND/OR/XOR/MOV with a register or immediate source and a
  // register destination.
  template <Op kOp, unsigned N, bool kImm>
  static bool Alu(Cpu& c, const InstructionForm& f, const std::uint8_t* b) {
    Executor ex{c, f, b, 0};
    const unsigned dn = Nibble(b, f.dst.regNibble);
    std::uint32_t s;
    if constexpr (kImm) {
      s = Ext(b, f.src.extNibble, N);
    } else {
      s = Get<N>(c, Nibble(b, f.src.regNibble));
    }
    if constexpr (kOp == Op::kMov) {
      Set<N>(c, dn, s);
      ex.SetLogic(s, N);
    } else {
      const std::uint32_t d = Get<N>(c, dn);
      std::uint32_t r;
      if constexpr (kOp == Op::kAdd) {
        r = ex.Add(d, s, 0, N);
      } else if constexpr (kOp == Op::kSub || kOp == Op::kCmp) {
        r = ex.Sub(d, s, 0, N);
      } else if constexpr (kOp == Op::kAnd) {
        r = d & s;
      } else if constexpr (kOp == Op::kOr) {
        r = d | s;
      } else {
        r = d ^ s;
      }
      if constexpr (kOp == Op::kAnd || kOp == Op::kOr || kOp == Op::kXor) {
        ex.SetLogic(r, N);
      } else {
        ex.Flag(kCcrZ, (r & SizeMask(N)) == 0);
      }
      if constexpr (kOp != Op::kCmp) Set<N>(c, dn, r);
    }
    return true;
  }

  // MOV between a register and memory in one addressing mode.
  template <unsigned N, Mode kMode, bool kLoad>
  static bool Move(Cpu& c, const InstructionForm& f, const std::uint8_t* b) {
    Executor ex{c, f, b, 0};
    const Operand& mem = kLoad ? f.src : f.dst;
    const Operand& reg = kLoad ? f.dst : f.src;
    const unsigned rn = Nibble(b, reg.regNibble);
    std::uint32_t ea;
    if constexpr (kMode == Mode::kInd) {
      ea = c.er_[Nibble(b, mem.regNibble) & 7];
    } else if constexpr (kMode == Mode::kPostInc) {
      std::uint32_t& r = c.er_[Nibble(b, mem.regNibble) & 7];
      ea = r;
      if constexpr (kLoad) r += N;
    } else if constexpr (kMode == Mode::kPreDec) {
      ea = c.er_[Nibble(b, mem.regNibble) & 7] - N;
    } else if constexpr (kMode == Mode::kDisp16) {
      ea = c.er_[Nibble(b, mem.regNibble) & 7] +
           static_cast<std::uint32_t>(static_cast<std::int16_t>(Ext(b, mem.extNibble, 2)));
    } else if constexpr (kMode == Mode::kDisp32) {
      ea = c.er_[Nibble(b, mem.regNibble) & 7] + Ext(b, mem.extNibble, 4);
    } else if constexpr (kMode == Mode::kAbs8) {
      ea = 0xFFFF00u | Ext(b, mem.extNibble, 1);
    } else if constexpr (kMode == Mode::kAbs16) {
      ea = static_cast<std::uint32_t>(static_cast<std::int16_t>(Ext(b, mem.extNibble, 2)));
    } else {
      ea = Ext(b, mem.extNibble, 4);
    }
    std::uint32_t v;
    if constexpr (kLoad) {
      v = ex.Load(ea, N);
      Set<N>(c, rn, v);
    } else {
      // The register is read before @-ERn moves.
      v = Get<N>(c, rn);
      if constexpr (kMode == Mode::kPreDec) c.er_[Nibble(b, mem.regNibble) & 7] = ea;
      ex.Store(ea, N, v);
    }
    ex.SetLogic(v, N);
    return true;
  }

  template <bool kWide>
  static bool Branch(Cpu& c, const InstructionForm& f, const std::uint8_t* b) {
    Executor ex{c, f, b, 0};
    if (ex.Condition(f.condition)) {
      const std::int32_t disp = kWide ? static_cast<std::int16_t>(Ext(b, f.dst.extNibble, 2))
                                      : static_cast<std::int8_t>(b[f.dst.extNibble / 2]);
      c.pc_ = (c.pc_ + static_cast<std::uint32_t>(disp)) & kPcMask & ~1u;
    }
    return true;
  }

  static bool General(Cpu& c, const InstructionForm& f, const std::uint8_t* b) {
    Executor ex{c, f, b, 0};
    return ex.Run();
  }

  template <Op kOp, unsigned N>
  static Cpu::Handler AluFor(const InstructionForm& f) {
    if (f.src.mode == Mode::kImm) return &Alu<kOp, N, true>;
    return &Alu<kOp, N, false>;
  }
  template <Op kOp>
  static Cpu::Handler AluSized(const InstructionForm& f) {
    switch (f.size) {
      case Size::kByte:
        return AluFor<kOp, 1>(f);
      case Size::kWord:
        return AluFor<kOp, 2>(f);
      default:
        return AluFor<kOp, 4>(f);
    }
  }
  template <unsigned N, bool kLoad>
  static Cpu::Handler MoveFor(Mode m) {
    switch (m) {
      case Mode::kInd:
        return &Move<N, Mode::kInd, kLoad>;
      case Mode::kPostInc:
        return &Move<N, Mode::kPostInc, kLoad>;
      case Mode::kPreDec:
        return &Move<N, Mode::kPreDec, kLoad>;
      case Mode::kDisp16:
        return &Move<N, Mode::kDisp16, kLoad>;
      case Mode::kDisp32:
        return &Move<N, Mode::kDisp32, kLoad>;
      case Mode::kAbs8:
        return &Move<N, Mode::kAbs8, kLoad>;
      case Mode::kAbs16:
        return &Move<N, Mode::kAbs16, kLoad>;
      case Mode::kAbs32:
        return &Move<N, Mode::kAbs32, kLoad>;
      default:
        return nullptr;
    }
  }

  static const Cpu::Handler* All() {
    static const std::vector<Cpu::Handler> handlers = [] {
      std::vector<Cpu::Handler> h;
      for (const InstructionForm& f : InstructionForms()) h.push_back(FastPaths::For(f));
      return h;
    }();
    return handlers.data();
  }

  static const Cpu::Dispatch* FirstWords() {
    static const std::vector<Cpu::Dispatch> table = [] {
      const InstructionForm* const* single = FirstWordForms();
      const InstructionForm* base = InstructionForms().data();
      const Cpu::Handler* handlers = All();
      std::vector<Cpu::Dispatch> t(65536, Cpu::Dispatch{nullptr, nullptr});
      for (unsigned w = 0; w < 65536; ++w) {
        if (single[w] != nullptr) t[w] = Cpu::Dispatch{single[w], handlers[single[w] - base]};
      }
      return t;
    }();
    return table.data();
  }

  static Cpu::Handler For(const InstructionForm& f) {
    const bool regDst = Executor::IsRegister(f.dst.mode);
    const bool simpleSrc = Executor::IsRegister(f.src.mode) || f.src.mode == Mode::kImm;
    if (regDst && simpleSrc) {
      switch (f.op) {
        case Op::kMov:
          return AluSized<Op::kMov>(f);
        case Op::kAdd:
          return AluSized<Op::kAdd>(f);
        case Op::kSub:
          return AluSized<Op::kSub>(f);
        case Op::kCmp:
          return AluSized<Op::kCmp>(f);
        case Op::kAnd:
          return AluSized<Op::kAnd>(f);
        case Op::kOr:
          return AluSized<Op::kOr>(f);
        case Op::kXor:
          return AluSized<Op::kXor>(f);
        default:
          break;
      }
    }
    if (f.op == Op::kMov && (regDst || Executor::IsRegister(f.src.mode))) {
      const bool load = regDst;
      const Mode m = load ? f.src.mode : f.dst.mode;
      Cpu::Handler h = nullptr;
      switch (f.size) {
        case Size::kByte:
          h = load ? MoveFor<1, true>(m) : MoveFor<1, false>(m);
          break;
        case Size::kWord:
          h = load ? MoveFor<2, true>(m) : MoveFor<2, false>(m);
          break;
        default:
          h = load ? MoveFor<4, true>(m) : MoveFor<4, false>(m);
          break;
      }
      if (h != nullptr) return h;
    }
    if (f.op == Op::kBcc) return f.dst.mode == Mode::kPcRel16 ? &Branch<true> : &Branch<false>;
    return &General;
  }
};

Cpu::Cpu(MemoryBus& bus, Scheduler& scheduler) : bus_(bus), scheduler_(scheduler) {
  std::memset(pendingPriority_, -1, sizeof pendingPriority_);
  firstWord_ = FastPaths::FirstWords();
  handlers_ = FastPaths::All();
  formsBase_ = InstructionForms().data();
}

void Cpu::Reset() {
  stopped_ = false;
  sleeping_ = false;
  stopReason_ = StopReason::kNone;
  stopMessage_.clear();
  ccr_ |= kCcrI;
  exr_ = kExrMask;
  pc_ = bus_.Read32(kVectorReset * 4) & kPcMask & ~1u;
  scheduler_.Advance(bus_.TakeAccessStates());
}

void Cpu::RequestStop(std::string message) {
  stopped_ = true;
  stopReason_ = StopReason::kRequested;
  stopMessage_ = std::move(message);
}

void Cpu::ClearStop() {
  stopped_ = false;
  stopReason_ = StopReason::kNone;
  stopMessage_.clear();
}

void Cpu::RaiseInterrupt(int vector, int priority) {
  if (vector < 0 || vector >= kVectors) return;
  if (pendingPriority_[vector] < 0) ++pendingCount_;
  pendingPriority_[vector] = static_cast<signed char>(priority < 0   ? 0
                                                      : priority > 8 ? 8
                                                                     : priority);
}

void Cpu::ClearInterrupt(int vector) {
  if (vector < 0 || vector >= kVectors || pendingPriority_[vector] < 0) return;
  pendingPriority_[vector] = -1;
  --pendingCount_;
}

// The highest-priority request the masks let through (lowest vector among
// equals), or -1.
int Cpu::AcceptableInterrupt() const {
  int best = -1;
  int bestPriority = -1;
  for (int v = 0; v < kVectors; ++v) {
    const int p = pendingPriority_[v];
    if (p < 0) continue;
    const bool nmi = v == kVectorNmi || p >= 8;
    const bool allowed = nmi || (interruptMode_ == 2 ? p > (exr_ & kExrMask) : (ccr_ & kCcrI) == 0);
    if (allowed && p > bestPriority) {
      best = v;
      bestPriority = p;
    }
  }
  return best;
}

unsigned Cpu::Exception(int vector, bool pushExr) {
  // Advanced mode frame: CCR and the 24-bit PC as one longword, EXR (mode 2)
  // as a word below it. Then T is cleared and I set.
  er_[7] -= 4;
  bus_.Write32(er_[7], static_cast<std::uint32_t>(ccr_) << 24 | pc_);
  if (pushExr) {
    er_[7] -= 2;
    bus_.Write16(er_[7], static_cast<std::uint16_t>(exr() << 8));
  }
  exr_ = static_cast<std::uint8_t>(exr_ & ~kExrT);
  ccr_ |= kCcrI;
  pc_ = bus_.Read32(static_cast<std::uint32_t>(vector) * 4) & kPcMask & ~1u;
  return 0;
}

unsigned Cpu::AcceptInterrupt(int vector) {
  sleeping_ = false;
  const int priority = pendingPriority_[vector];
  Exception(vector, interruptMode_ == 2);
  if (interruptMode_ == 2) {
    exr_ = static_cast<std::uint8_t>((exr_ & ~kExrMask) | (priority > 7 ? 7 : priority));
  }
  // Two fetches at the handler and two internal states beside the stack and
  // vector accesses.
  return 2 * bus_.FetchStates(pc_) + bus_.TakeAccessStates() + 2;
}

unsigned Cpu::Illegal(std::uint32_t address, int words, const std::uint8_t* bytes) {
  char text[80];
  int len = std::snprintf(text, sizeof text, "illegal instruction at H'%06X:", address);
  for (int i = 0; i < words && len < 70; ++i) {
    len += std::snprintf(text + len, sizeof text - static_cast<unsigned>(len), " H'%02X%02X",
                         bytes[2 * i], bytes[2 * i + 1]);
  }
  pc_ = address;
  stopped_ = true;
  stopReason_ = StopReason::kIllegalInstruction;
  stopMessage_ = text;
  bus_.TakeAccessStates();
  return 0;
}

unsigned Cpu::Execute() {
  const std::uint32_t address = pc_;
  std::uint8_t scratch[10];
  unsigned fetch;
  const std::uint8_t* bytes = bus_.InstructionBytes(address, scratch, fetch);
  const Dispatch& d = firstWord_[static_cast<unsigned>(bytes[0]) << 8 | bytes[1]];
  const InstructionForm* form = d.form;
  Handler handler = d.handler;
  if (form == nullptr) {
    const std::uint32_t pair = static_cast<std::uint32_t>(bytes[0]) << 24 |
                               static_cast<std::uint32_t>(bytes[1]) << 16 |
                               static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    PairEntry& e = pairCache_[(pair ^ pair >> 13) % kPairCache];
    if (e.form != nullptr && e.words == pair) {
      form = e.form;
    } else {
      int words = 1;
      form = DecodeInstruction(bytes, &words);
      if (form == nullptr) return Illegal(address, words, bytes);
      if (DecidedByTwoWords(static_cast<std::uint16_t>(pair >> 16))) e = PairEntry{pair, form};
    }
    handler = handlers_[form - formsBase_];
  }
  pc_ = (address + form->length) & kPcMask;
  if (!handler(*this, *form, bytes)) return Illegal(address, form->length / 2, bytes);
  ++instructions_;
  return form->fetches * fetch + bus_.TakeAccessStates() + form->internal;
}

unsigned Cpu::Step() {
  if (stopped_) return 0;
  const std::uint32_t address = pc_;
  unsigned states;
  int vector;
  if (pendingCount_ != 0 && (vector = AcceptableInterrupt()) >= 0) {
    states = AcceptInterrupt(vector);
  } else if (sleeping_) {
    // Nothing to do until an event: let time run to it.
    std::uint64_t skipped = scheduler_.SkipToNextEvent();
    if (skipped == 0 && !scheduler_.Due()) {
      stopped_ = true;
      stopReason_ = StopReason::kSleep;
      stopMessage_ = "sleep with nothing left to wake the core";
      return 0;
    }
    scheduler_.RunDue();
    return static_cast<unsigned>(skipped);
  } else {
    states = Execute();
    if (states == 0 && stopped_ && stopReason_ == StopReason::kIllegalInstruction) return 0;
  }
  scheduler_.Advance(states);
  if (scheduler_.Due()) scheduler_.RunDue();
  if (traceHandler_) traceHandler_(*this, address, states);
  return states;
}

StopReason Cpu::Run(std::uint64_t untilState) {
  while (!stopped_ && scheduler_.now() < untilState) {
    if (pendingCount_ == 0 && !sleeping_ && !traceHandler_) {
      // The common case, without the checks Step makes.
      const unsigned states = Execute();
      scheduler_.Advance(states);
      if (scheduler_.Due()) scheduler_.RunDue();
      continue;
    }
    if (sleeping_ && pendingCount_ == 0) {
      // Sleeping: skip to the next event, but not beyond the limit.
      if (scheduler_.nextEventTime() >= untilState) {
        scheduler_.SkipToNextEvent(untilState);
        break;
      }
    }
    Step();
  }
  return stopped_ ? stopReason_ : StopReason::kNone;
}

}  // namespace vantor::board
