// The H8S/2000 CPU core in advanced mode (24-bit addresses, 32-bit vectors).
//
// The core executes from a MemoryBus and counts emulated time on a
// Scheduler: each instruction costs its instruction fetches, data and stack
// accesses at the cost the bus reports for the region touched, plus the
// internal states the programming manual lists for it. Instructions are
// decoded through the one instruction table (instruction_table.h) that the
// disassembler uses too.
//
// Anything that is no instruction of the core (MAC, CLRMAC, LDMAC and STMAC
// included) stops it with "illegal instruction at H'xxxxxx: H'xxxx ...",
// naming the address and the words looked at; it never runs on silently.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "board/memory_bus.h"
#include "board/scheduler.h"

namespace vantor::board {

struct InstructionForm;

enum class StopReason {
  kNone,                // running, or Run returned because the state limit was reached
  kSleep,               // SLEEP executed and no sleep handler kept the core waiting
  kIllegalInstruction,  // see stopMessage()
  kRequested,           // RequestStop was called (a peripheral or a hook stopped the board)
};

// Condition code register bits.
inline constexpr std::uint8_t kCcrI = 0x80;
inline constexpr std::uint8_t kCcrUI = 0x40;
inline constexpr std::uint8_t kCcrH = 0x20;
inline constexpr std::uint8_t kCcrU = 0x10;
inline constexpr std::uint8_t kCcrN = 0x08;
inline constexpr std::uint8_t kCcrZ = 0x04;
inline constexpr std::uint8_t kCcrV = 0x02;
inline constexpr std::uint8_t kCcrC = 0x01;
// Extended control register: trace bit and interrupt mask I2-I0; bits 6-3 read as 1.
inline constexpr std::uint8_t kExrT = 0x80;
inline constexpr std::uint8_t kExrMask = 0x07;

// Exception vector numbers (advanced mode: vector n at address 4n).
inline constexpr int kVectorReset = 0;
inline constexpr int kVectorTrace = 5;
inline constexpr int kVectorNmi = 7;
inline constexpr int kVectorTrapa0 = 8;  // TRAPA #n uses vector 8 + n

class Cpu {
 public:
  Cpu(MemoryBus& bus, Scheduler& scheduler);

  // Registers. er(7) is the stack pointer. Byte and word views of the
  // general registers: r(n) is the low word of ERn, e(n) the high word;
  // rh(n)/rl(n) the bytes of r(n).
  std::uint32_t er(int n) const { return er_[n & 7]; }
  void set_er(int n, std::uint32_t value) { er_[n & 7] = value; }
  std::uint32_t pc() const { return pc_; }
  void set_pc(std::uint32_t value) { pc_ = value & 0xFFFFFE; }
  std::uint8_t ccr() const { return ccr_; }
  void set_ccr(std::uint8_t value) { ccr_ = value; }
  std::uint8_t exr() const { return static_cast<std::uint8_t>(exr_ | 0x78); }
  void set_exr(std::uint8_t value) { exr_ = static_cast<std::uint8_t>(value & 0x87); }

  // The reset exception: the start address comes from vector 0, CCR.I is
  // set, EXR.T cleared and its mask set to 7; any stop and sleep are cleared.
  // Counts the states of the vector fetch.
  void Reset();

  // Executes one instruction (or accepts one pending interrupt), adds its
  // states to the scheduler and runs the events that have come due. Returns
  // the states, 0 when the core is stopped. While sleeping, advances time to
  // the next event instead.
  unsigned Step();

  // Runs until the scheduler's count reaches `untilState` or the core stops.
  // Returns kNone when the limit was reached, otherwise the stop reason.
  StopReason Run(std::uint64_t untilState);

  StopReason stopReason() const { return stopReason_; }
  const std::string& stopMessage() const { return stopMessage_; }
  // Stops the core after the current instruction (callable from device
  // callbacks, events and hooks). Run returns kRequested.
  void RequestStop(std::string message);
  // Lets a stopped core run again (the registers are left as they are).
  void ClearStop();

  // Instructions executed since construction.
  std::uint64_t instructions() const { return instructions_; }

  // SLEEP. The handler runs when SLEEP executes (PC already past it). If it
  // returns true the core waits in sleep, time advancing from event to event,
  // until an interrupt is accepted; if it returns false, or there is no
  // handler, the core stops with kSleep.
  using SleepHandler = std::function<bool(Cpu&)>;
  void SetSleepHandler(SleepHandler handler) { sleepHandler_ = std::move(handler); }
  bool sleeping() const { return sleeping_; }

  // Interrupts. Mode 0 masks every request but NMI with CCR.I; mode 2 uses
  // EXR's mask (a request is accepted when its priority is above it; 8 is
  // NMI). A request stays until cleared, as the chip's interrupt flags do.
  void SetInterruptControlMode(int mode) { interruptMode_ = mode; }
  int interruptControlMode() const { return interruptMode_; }
  void RaiseInterrupt(int vector, int priority);
  void ClearInterrupt(int vector);

  // Called after every instruction with its address and states (slows the
  // core; for tracing and single-stepping tools). Empty to turn off.
  using TraceHandler = std::function<void(const Cpu&, std::uint32_t pc, unsigned states)>;
  void SetTraceHandler(TraceHandler handler) { traceHandler_ = std::move(handler); }

  MemoryBus& bus() { return bus_; }
  Scheduler& scheduler() { return scheduler_; }

 private:
  friend struct Executor;
  friend struct FastPaths;
  using Handler = bool (*)(Cpu&, const InstructionForm&, const std::uint8_t*);

  unsigned Execute();
  int AcceptableInterrupt() const;
  unsigned AcceptInterrupt(int vector);
  unsigned Exception(int vector, bool pushExr);
  unsigned Illegal(std::uint32_t address, int words, const std::uint8_t* bytes);

  MemoryBus& bus_;
  Scheduler& scheduler_;
  // Per first word: the form it decides alone (or null) with its executor;
  // and the executor of each form, indexed like InstructionForms().
  struct Dispatch {
    const InstructionForm* form;
    Handler handler;
  };
  const Dispatch* firstWord_ = nullptr;
  const Handler* handlers_ = nullptr;
  const InstructionForm* formsBase_ = nullptr;
  // Forms found for first words that need their second word too, by word
  // pair (direct-mapped; only where two words decide).
  struct PairEntry {
    std::uint32_t words = 0;
    const InstructionForm* form = nullptr;
  };
  static constexpr unsigned kPairCache = 1024;
  PairEntry pairCache_[kPairCache];
  std::uint32_t er_[8] = {};
  std::uint32_t pc_ = 0;
  std::uint8_t ccr_ = kCcrI;
  std::uint8_t exr_ = kExrMask;
  std::uint64_t instructions_ = 0;
  StopReason stopReason_ = StopReason::kNone;
  std::string stopMessage_;
  bool stopped_ = false;
  bool sleeping_ = false;
  SleepHandler sleepHandler_;
  TraceHandler traceHandler_;
  int interruptMode_ = 0;
  // Pending interrupt requests: priority per vector (-1 none) and a count.
  static constexpr int kVectors = 128;
  signed char pendingPriority_[kVectors] = {};
  int pendingCount_ = 0;
};

}  // namespace vantor::board
