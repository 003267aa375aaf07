// Every value of the modelled H8S/2215 in one place: the memory map, the
// register addresses of the peripherals the board models, the boot ROM's
// choices and the flash procedure's time windows.
//
// docs/virtual-board.md gives each value's public source, or says that it is
// a model value we chose. The firmware's assembly include file
// (firmware/h8s2215.inc) is generated from this header by
// h8s2215_inc_generator, and a test fails when the committed file differs.
// A board owner who finds a value wrong corrects it here, once.
#pragma once

#include <cstdint>

namespace vantor::board::device {

// ---- Memory map (advanced mode, 24-bit addresses) ----
inline constexpr std::uint32_t kFlashStart = 0x000000;
inline constexpr std::uint32_t kFlashSize = 0x40000;  // 256 KiB
inline constexpr std::uint32_t kProgramUnit = 128;    // bytes programmed at once
inline constexpr std::uint32_t kRamStart = 0xFFB000;
inline constexpr std::uint32_t kRamSize = 0x4000;               // 16 KiB
inline constexpr std::uint32_t kRamEnd = kRamStart + kRamSize;  // one past the last byte
// On-chip peripheral registers: H'FFFE40..H'FFFFFF (a write elsewhere outside
// flash and RAM is an access to nothing and stops the board).
inline constexpr std::uint32_t kRegistersStart = 0xFFFE40;

// ---- Serial communication interface: the boot mode's channel ----
// Register offsets from the channel's base, the same for every channel.
inline constexpr std::uint32_t kSciSmr = 0;
inline constexpr std::uint32_t kSciBrr = 1;
inline constexpr std::uint32_t kSciScr = 2;
inline constexpr std::uint32_t kSciTdr = 3;
inline constexpr std::uint32_t kSciSsr = 4;
inline constexpr std::uint32_t kSciRdr = 5;
inline constexpr std::uint32_t kSci0Base = 0xFFFF78;
inline constexpr std::uint32_t kSci1Base = 0xFFFF80;
inline constexpr std::uint32_t kSci2Base = 0xFFFF88;
// The channel the boot ROM uses (model value: chosen; the firmware looks at it
// first and probes the others only when it is not running).
inline constexpr std::uint32_t kBootSciBase = kSci1Base;
// SCR bits
inline constexpr std::uint8_t kScrTie = 0x80;
inline constexpr std::uint8_t kScrRie = 0x40;
inline constexpr std::uint8_t kScrTe = 0x20;
inline constexpr std::uint8_t kScrRe = 0x10;
// SSR bits
inline constexpr std::uint8_t kSsrTdre = 0x80;
inline constexpr std::uint8_t kSsrRdrf = 0x40;
inline constexpr std::uint8_t kSsrOrer = 0x20;
inline constexpr std::uint8_t kSsrFer = 0x10;
inline constexpr std::uint8_t kSsrPer = 0x08;
inline constexpr std::uint8_t kSsrTend = 0x04;
inline constexpr std::uint8_t kSsrMpb = 0x02;
inline constexpr std::uint8_t kSsrMpbt = 0x01;
// SMR clock select: phi/1, phi/4, phi/16, phi/64.
inline constexpr std::uint8_t kSmrCksMask = 0x03;

// ---- Flash memory controller ----
inline constexpr std::uint32_t kFlmcr1 = 0xFFFFA8;
inline constexpr std::uint32_t kFlmcr2 = 0xFFFFA9;
inline constexpr std::uint32_t kEbr1 = 0xFFFFAA;
inline constexpr std::uint32_t kEbr2 = 0xFFFFAB;
// FLMCR1 bits
inline constexpr std::uint8_t kFlmcr1Fwe = 0x80;  // read-only: the flash-write-enable pin
inline constexpr std::uint8_t kFlmcr1Swe = 0x40;
inline constexpr std::uint8_t kFlmcr1Esu = 0x20;
inline constexpr std::uint8_t kFlmcr1Psu = 0x10;
inline constexpr std::uint8_t kFlmcr1Ev = 0x08;
inline constexpr std::uint8_t kFlmcr1Pv = 0x04;
inline constexpr std::uint8_t kFlmcr1E = 0x02;
inline constexpr std::uint8_t kFlmcr1P = 0x01;
// FLMCR2 bits
inline constexpr std::uint8_t kFlmcr2Fler = 0x80;

// Erase blocks: EBR1 bits 0-7 select blocks 0-7, EBR2 bits 0-3 blocks 8-11.
inline constexpr unsigned kEraseBlockCount = 12;
inline constexpr std::uint32_t kEraseBlockStart[kEraseBlockCount + 1] = {
    0x00000, 0x01000, 0x02000, 0x03000, 0x04000, 0x05000, 0x06000,
    0x07000, 0x08000, 0x10000, 0x20000, 0x30000, 0x40000};

// ---- Watchdog timer ----
// TCSR and TCNT are written as one word at kWdtTcsr: upper byte H'A5 writes
// the lower byte to TCSR, upper byte H'5A writes it to TCNT. They are read as
// bytes: TCSR at kWdtTcsr, TCNT at kWdtTcnt.
inline constexpr std::uint32_t kWdtTcsr = 0xFFFFBC;
inline constexpr std::uint32_t kWdtTcnt = 0xFFFFBD;
inline constexpr std::uint8_t kWdtTcsrPassword = 0xA5;
inline constexpr std::uint8_t kWdtTcntPassword = 0x5A;
// TCSR bits
inline constexpr std::uint8_t kTcsrOvf = 0x80;
inline constexpr std::uint8_t kTcsrWtIt = 0x40;  // 1: watchdog timer mode (overflow resets)
inline constexpr std::uint8_t kTcsrTme = 0x20;   // the counter runs
inline constexpr std::uint8_t kTcsrCksMask = 0x07;
// Counter clock divisors for CKS2..0 = 0..7.
inline constexpr std::uint32_t kWdtDivisors[8] = {2, 64, 128, 512, 2048, 8192, 32768, 131072};

// ---- Boot ROM ----
inline constexpr std::uint32_t kDefaultLoadAddress = kRamStart;
// The stack pointer the boot ROM leaves: the top of the RAM (first push
// goes below it).
inline constexpr std::uint32_t kInitialStackPointer = kRamEnd;
// Bytes at the top of the RAM the boot ROM keeps for the program's stack; a
// program that would reach into them is refused.
inline constexpr std::uint32_t kStackReserve = 256;
// Emulated time the boot ROM's erase of a programmed flash takes.
inline constexpr std::uint32_t kDefaultEraseMicroseconds = 600000;
// The boot ROM answers a program length that does not fit with this byte
// instead of the echo, and a failed erase with it instead of H'AA.
inline constexpr std::uint8_t kBootRefusal = 0xFF;

// ---- Clock ----
inline constexpr std::uint32_t kDefaultClockHz = 19968000;
inline constexpr std::uint32_t kMinClockHz = 2000000;
inline constexpr std::uint32_t kMaxClockHz = 20000000;

// ---- Flash procedure time windows, in nanoseconds ----
// Waits are minimums; the flash characteristics table gives no maximum for
// them. Pulses have a minimum and a maximum.
inline constexpr std::uint32_t kWaitAfterSweNs = 1000;         // SWE set -> latch writes / PSU
inline constexpr std::uint32_t kWaitAfterPsuNs = 50000;        // PSU set -> P set
inline constexpr std::uint32_t kWaitAfterPNs = 5000;           // P cleared -> PSU cleared
inline constexpr std::uint32_t kWaitAfterPsuClearNs = 5000;    // PSU cleared -> PV set
inline constexpr std::uint32_t kWaitAfterPvNs = 4000;          // PV set -> dummy write
inline constexpr std::uint32_t kWaitAfterDummyNs = 2000;       // dummy write -> verify read
inline constexpr std::uint32_t kWaitAfterPvClearNs = 2000;     // PV cleared -> next step
inline constexpr std::uint32_t kWaitAfterSweClearNs = 100000;  // SWE cleared -> flash read
// The program pulse of tries 1..kShortPulseTries, of the later tries, and
// the additional-programming pulse (only in tries 1..kShortPulseTries).
inline constexpr std::uint32_t kShortPulseMinNs = 28000;
inline constexpr std::uint32_t kShortPulseMaxNs = 32000;
inline constexpr std::uint32_t kLongPulseMinNs = 198000;
inline constexpr std::uint32_t kLongPulseMaxNs = 202000;
inline constexpr std::uint32_t kAdditionalPulseMinNs = 8000;
inline constexpr std::uint32_t kAdditionalPulseMaxNs = 12000;
inline constexpr unsigned kShortPulseTries = 6;
inline constexpr unsigned kMaxProgramTries = 1000;
inline constexpr std::uint32_t kWaitAfterEsuNs = 100000;    // ESU set -> E set
inline constexpr std::uint32_t kErasePulseMinNs = 9000000;  // the erase pulse, about 10 ms
inline constexpr std::uint32_t kErasePulseMaxNs = 11000000;

}  // namespace vantor::board::device
