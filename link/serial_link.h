// The serial link: the process's one port and its five single-byte
// operations. Free functions over module state; nothing is thrown, buffered
// or allocated.
#pragma once

#include <cstdint>

#include "common/error_code.h"

namespace vantor {

// Opens the port, as the write operation does with ("COM1", 9600, 'n', 8, 1.0f).
//   parity: N, O, E, M or S in either case;
//   stopBits: 1, 1.5 or 2.
// Returns 0; 200 for a parity letter or stop-bit count it does not know
// (nothing touched); 203 when a port is already open (that port is left as
// it was); 201 when the device cannot be opened (the link stays closed);
// 202 when the device opened but refused the settings (the link stays open
// until ClosePort).
ErrorCode OpenPort(const char* portName, std::uint32_t baudRate, char parity, std::uint8_t dataBits,
                   float stopBits);

// Closes the port if it is open. Always 0.
ErrorCode ClosePort();

// Sends the low 8 bits of value: 0, 212 (the send failed, or no port is
// open) or 213 (nothing was written within the write time-out).
ErrorCode SendByte(unsigned value);

// Receives one byte, waiting at most 10 ms: 0, 210 (the read failed, or no
// port is open) or 211 (nothing came). On a non-zero result `out` is not to
// be relied on.
ErrorCode ReceiveByte(std::uint8_t& out);

// Discards what is waiting on the line: reads until a read brings nothing,
// at most 30,000 reads. 0, or 214 when all 30,000 reads brought a byte.
ErrorCode DrainReceiveBuffer();

// Pauses the caller; the command reply wait sleeps 1 ms after each miss.
// Goes through the open port's back end, so a fake line can count it.
void SleepMilliseconds(unsigned milliseconds);

// Whether a port is open (configured or not).
bool IsPortOpen();

// Sets the open port to another bit rate, the line format unchanged, and
// reads it back: 0, or 202 when the port refuses the rate or no port is
// open.
ErrorCode SetPortBaudRate(std::uint32_t baudRate);

// Whether the open port's driver takes rates outside the standard list.
bool PortTakesAnyRate();

inline constexpr unsigned kDrainReadLimit = 30000;

}  // namespace vantor
