// The virtual board's address space: a 24-bit bus of regions.
//
// A region is either plain memory (the core reads and writes a host byte
// array directly) or a device (every access calls the device). Plain memory
// can still hand its writes to a device, as flash does: reads come straight
// from the array, writes go to the flash controller's latches.
//
// Every access costs the region's states: on-chip ROM and RAM 1 state per
// access on the 16-bit bus, on-chip peripheral registers 2. A word access to
// an 8-bit-wide region is two accesses; a longword access is two word
// accesses. The bus adds the cost of every access to a running total that the
// core reads after each instruction (TakeAccessStates).
//
// Word and longword accesses ignore address bit 0, as the chip does.
// Accesses where nothing is mapped read H'FF, ignore writes, cost 1 state and
// are counted (unmappedAccesses), so a test can tell a stray pointer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantor::board {

// A peripheral (or any region that must see each access). Addresses passed
// in are full 24-bit bus addresses.
class Device {
 public:
  virtual ~Device() = default;
  virtual std::uint8_t Read8(std::uint32_t address) = 0;
  virtual void Write8(std::uint32_t address, std::uint8_t value) = 0;
  // 16-bit accesses; by default two byte accesses, high byte first.
  virtual std::uint16_t Read16(std::uint32_t address);
  virtual void Write16(std::uint32_t address, std::uint16_t value);
  // A read without side effects for the disassembler, dumps and debuggers;
  // by default the ordinary read.
  virtual std::uint8_t Peek8(std::uint32_t address) { return Read8(address); }
};

struct Region {
  std::string name;
  std::uint32_t base = 0;
  std::uint32_t size = 0;
  // Plain memory: the region's bytes (size of them), owned by the caller.
  std::uint8_t* data = nullptr;
  // Plain memory the core may write directly; when false, writes go to
  // `device` (or are ignored without one).
  bool writable = false;
  // Handles every access when data is null, and the writes of read-only
  // plain memory.
  Device* device = nullptr;
  // States per access and the region's bus width in bits (8 or 16).
  unsigned states = 1;
  unsigned width = 16;
};

class MemoryBus {
 public:
  static constexpr std::uint32_t kAddressMask = 0xFFFFFF;
  static constexpr unsigned kPageBits = 8;

  MemoryBus();

  // Maps a region. A later region overrides earlier ones where they overlap,
  // so the chip can map the whole flash as memory and then lay a device over
  // it while its controller changes how the flash reads. Takes effect at the
  // next access.
  void Map(const Region& region);
  // Removes every region named `name`.
  void Unmap(const std::string& name);
  // The region that answers `address`, or nullptr.
  const Region* RegionAt(std::uint32_t address) const;

  // Accesses made by the core; each adds its cost to the running total.
  std::uint8_t Read8(std::uint32_t address) {
    address &= kAddressMask;
    const Page& p = pages_[address >> kPageBits];
    if (p.read != nullptr) {
      accessStates_ += p.states8;
      return p.read[address & kPageMask];
    }
    return SlowRead8(address);
  }
  std::uint16_t Read16(std::uint32_t address) {
    address &= kAddressMask & ~1u;
    const Page& p = pages_[address >> kPageBits];
    if (p.read != nullptr) {
      accessStates_ += p.states16;
      const std::uint8_t* b = p.read + (address & kPageMask);
      return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
    }
    return SlowRead16(address);
  }
  std::uint32_t Read32(std::uint32_t address) {
    const std::uint32_t high = Read16(address);
    return high << 16 | Read16(address + 2);
  }
  void Write8(std::uint32_t address, std::uint8_t value) {
    address &= kAddressMask;
    const Page& p = pages_[address >> kPageBits];
    if (p.write != nullptr) {
      accessStates_ += p.states8;
      p.write[address & kPageMask] = value;
      return;
    }
    SlowWrite8(address, value);
  }
  void Write16(std::uint32_t address, std::uint16_t value) {
    address &= kAddressMask & ~1u;
    const Page& p = pages_[address >> kPageBits];
    if (p.write != nullptr) {
      accessStates_ += p.states16;
      std::uint8_t* b = p.write + (address & kPageMask);
      b[0] = static_cast<std::uint8_t>(value >> 8);
      b[1] = static_cast<std::uint8_t>(value);
      return;
    }
    SlowWrite16(address, value);
  }
  void Write32(std::uint32_t address, std::uint32_t value) {
    Write16(address, static_cast<std::uint16_t>(value >> 16));
    Write16(address + 2, static_cast<std::uint16_t>(value));
  }

  // The cost of one instruction fetch (a 16-bit access) at `address`.
  unsigned FetchStates(std::uint32_t address) const {
    const Page& p = pages_[(address & kAddressMask) >> kPageBits];
    return p.read != nullptr ? p.states16 : SlowFetchStates(address & kAddressMask);
  }

  // The bytes of the instruction at `address` (at least 10 readable) for the
  // decoder, without side effects or cost: straight from plain memory, or
  // copied into `scratch` through Peek8.
  const std::uint8_t* InstructionBytes(std::uint32_t address, std::uint8_t* scratch) const {
    address &= kAddressMask;
    const Page& p = pages_[address >> kPageBits];
    if (p.read != nullptr && (address & kPageMask) <= kPageMask - 9) {
      return p.read + (address & kPageMask);
    }
    for (unsigned i = 0; i < 10; ++i) scratch[i] = Peek8(address + i);
    return scratch;
  }

  // The same, also giving the cost of one fetch there.
  const std::uint8_t* InstructionBytes(std::uint32_t address, std::uint8_t* scratch,
                                       unsigned& fetchStates) const {
    address &= kAddressMask;
    const Page& p = pages_[address >> kPageBits];
    if (p.read != nullptr && (address & kPageMask) <= kPageMask - 9) {
      fetchStates = p.states16;
      return p.read + (address & kPageMask);
    }
    fetchStates = FetchStates(address);
    for (unsigned i = 0; i < 10; ++i) scratch[i] = Peek8(address + i);
    return scratch;
  }

  // Side-effect-free reads and cost-free writes for loaders, dumps, the
  // disassembler and tests. Poke writes plain memory even when read-only
  // and ignores devices.
  std::uint8_t Peek8(std::uint32_t address) const;
  std::uint16_t Peek16(std::uint32_t address) const;
  std::uint32_t Peek32(std::uint32_t address) const;
  void Poke8(std::uint32_t address, std::uint8_t value);

  // The states of the accesses since the last call, and resets the total.
  unsigned TakeAccessStates() {
    const unsigned s = accessStates_;
    accessStates_ = 0;
    return s;
  }

  std::uint64_t unmappedAccesses() const { return unmappedAccesses_; }

 private:
  static constexpr std::uint32_t kPageMask = (1u << kPageBits) - 1;
  static constexpr std::size_t kPages = std::size_t{1} << (24 - kPageBits);

  // One page of the address space. `read`/`write` point at the page's first
  // byte when one plain-memory region covers the whole page (and, for write,
  // is writable); otherwise they are null and the access takes the slow path.
  struct Page {
    std::uint8_t* read = nullptr;
    std::uint8_t* write = nullptr;
    unsigned states8 = 1;
    unsigned states16 = 1;
  };

  std::uint8_t SlowRead8(std::uint32_t address);
  std::uint16_t SlowRead16(std::uint32_t address);
  void SlowWrite8(std::uint32_t address, std::uint8_t value);
  void SlowWrite16(std::uint32_t address, std::uint16_t value);
  unsigned SlowFetchStates(std::uint32_t address) const;
  void RebuildPages(std::uint32_t first, std::uint32_t last);

  std::vector<Page> pages_;
  std::vector<Region> regions_;
  unsigned accessStates_ = 0;
  std::uint64_t unmappedAccesses_ = 0;
};

}  // namespace vantor::board
