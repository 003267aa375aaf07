// Configures the write-control program for the chip's clock: 0xC5 asks for
// the clock, then every entry of the clock parameter table is computed and
// written with 0xCA.
#pragma once

#include "common/error_code.h"

namespace vantor {

ErrorCode SetupClockParameters();

}  // namespace vantor
