// Basic scalar types and integer codes shared by every layer of the SDK.
//
// Times are signed 64-bit microseconds of engine time; a delay of -1 means
// "no time-out". Blocking framework calls signal failure by throwing one of
// the integer codes below.
#pragma once

#include <cstdint>

using DAXOTimestamp = long;          // microseconds, signed 64-bit on LP64
using DAXODelay = long;              // microseconds; -1 = wait forever
using DAXOThreadId = unsigned long;  // the POSIX thread identifier

static_assert(sizeof(long) == 8, "the SDK assumes an LP64 platform");

namespace DAXO {

// Integer exception codes thrown by blocking framework calls.
constexpr int ErrorException = -5;
constexpr int FatalKernelError = -4;
constexpr int TimeOut = -3;
constexpr int GotAMessage = -2;
constexpr int ModuleDied = 0xDEAD;  // 57005

// Report levels.
constexpr int Info = 0;
constexpr int Warning = 1;
constexpr int Error = 2;
constexpr int ParserEcho = 3;

}  // namespace DAXO
