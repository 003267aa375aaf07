#include "board/memory_bus.h"

#include <algorithm>

namespace vantor::board {

std::uint16_t Device::Read16(std::uint32_t address) {
  const std::uint16_t high = Read8(address);
  return static_cast<std::uint16_t>(high << 8 | Read8(address + 1));
}

void Device::Write16(std::uint32_t address, std::uint16_t value) {
  Write8(address, static_cast<std::uint8_t>(value >> 8));
  Write8(address + 1, static_cast<std::uint8_t>(value));
}

MemoryBus::MemoryBus() : pages_(kPages) {}

void MemoryBus::Map(const Region& region) {
  if (region.size == 0) return;
  Region r = region;
  r.base &= kAddressMask;
  if (r.base + r.size > kAddressMask + 1) r.size = kAddressMask + 1 - r.base;
  if (r.states == 0) r.states = 1;
  regions_.push_back(r);
  RebuildPages(r.base >> kPageBits, (r.base + r.size - 1) >> kPageBits);
}

void MemoryBus::Unmap(const std::string& name) {
  std::vector<Region> removed;
  for (const Region& r : regions_) {
    if (r.name == name) removed.push_back(r);
  }
  std::erase_if(regions_, [&](const Region& r) { return r.name == name; });
  for (const Region& r : removed) {
    RebuildPages(r.base >> kPageBits, (r.base + r.size - 1) >> kPageBits);
  }
}

const Region* MemoryBus::RegionAt(std::uint32_t address) const {
  address &= kAddressMask;
  for (auto it = regions_.rbegin(); it != regions_.rend(); ++it) {
    if (address - it->base < it->size) return &*it;
  }
  return nullptr;
}

void MemoryBus::RebuildPages(std::uint32_t first, std::uint32_t last) {
  for (std::uint32_t page = first; page <= last; ++page) {
    Page& p = pages_[page];
    p = Page{};
    const std::uint32_t start = page << kPageBits;
    const std::uint32_t end = start + kPageMask;
    // The topmost region touching the page decides, provided it covers the
    // whole page and is plain memory; anything else takes the slow path.
    for (auto it = regions_.rbegin(); it != regions_.rend(); ++it) {
      const std::uint32_t rEnd = it->base + it->size - 1;
      if (rEnd < start || it->base > end) continue;
      if (it->base <= start && rEnd >= end && it->data != nullptr) {
        p.read = it->data + (start - it->base);
        if (it->writable) p.write = p.read;
        p.states8 = it->states;
        p.states16 = it->width == 8 ? 2 * it->states : it->states;
      }
      break;
    }
  }
}

std::uint8_t MemoryBus::SlowRead8(std::uint32_t address) {
  const Region* r = RegionAt(address);
  if (r == nullptr) {
    ++unmappedAccesses_;
    accessStates_ += 1;
    return 0xFF;
  }
  accessStates_ += r->states;
  if (r->data != nullptr) return r->data[address - r->base];
  return r->device->Read8(address);
}

std::uint16_t MemoryBus::SlowRead16(std::uint32_t address) {
  const Region* r = RegionAt(address);
  if (r == nullptr || address + 1 - r->base >= r->size) {
    const std::uint16_t high = SlowRead8(address);
    return static_cast<std::uint16_t>(high << 8 | SlowRead8(address + 1));
  }
  accessStates_ += r->width == 8 ? 2 * r->states : r->states;
  if (r->data != nullptr) {
    const std::uint8_t* b = r->data + (address - r->base);
    return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
  }
  return r->device->Read16(address);
}

void MemoryBus::SlowWrite8(std::uint32_t address, std::uint8_t value) {
  const Region* r = RegionAt(address);
  if (r == nullptr) {
    ++unmappedAccesses_;
    accessStates_ += 1;
    return;
  }
  accessStates_ += r->states;
  if (r->data != nullptr && r->writable) {
    r->data[address - r->base] = value;
  } else if (r->device != nullptr) {
    r->device->Write8(address, value);
  }
}

void MemoryBus::SlowWrite16(std::uint32_t address, std::uint16_t value) {
  const Region* r = RegionAt(address);
  if (r == nullptr || address + 1 - r->base >= r->size) {
    SlowWrite8(address, static_cast<std::uint8_t>(value >> 8));
    SlowWrite8(address + 1, static_cast<std::uint8_t>(value));
    return;
  }
  accessStates_ += r->width == 8 ? 2 * r->states : r->states;
  if (r->data != nullptr && r->writable) {
    std::uint8_t* b = r->data + (address - r->base);
    b[0] = static_cast<std::uint8_t>(value >> 8);
    b[1] = static_cast<std::uint8_t>(value);
  } else if (r->device != nullptr) {
    r->device->Write16(address, value);
  }
}

unsigned MemoryBus::SlowFetchStates(std::uint32_t address) const {
  const Region* r = RegionAt(address);
  if (r == nullptr) return 1;
  return r->width == 8 ? 2 * r->states : r->states;
}

std::uint8_t MemoryBus::Peek8(std::uint32_t address) const {
  const Region* r = RegionAt(address);
  if (r == nullptr) return 0xFF;
  address &= kAddressMask;
  if (r->data != nullptr) return r->data[address - r->base];
  return r->device->Peek8(address);
}

std::uint16_t MemoryBus::Peek16(std::uint32_t address) const {
  address &= ~1u;
  return static_cast<std::uint16_t>(Peek8(address) << 8 | Peek8(address + 1));
}

std::uint32_t MemoryBus::Peek32(std::uint32_t address) const {
  return static_cast<std::uint32_t>(Peek16(address)) << 16 | Peek16(address + 2);
}

void MemoryBus::Poke8(std::uint32_t address, std::uint8_t value) {
  const Region* r = RegionAt(address);
  if (r != nullptr && r->data != nullptr) r->data[(address & kAddressMask) - r->base] = value;
}

}  // namespace vantor::board
