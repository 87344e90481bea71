// What the log file's header says about the machine and the moment of a run:
// the local date and time with its offset from UTC, the computer's name, and
// the thread that writes it (GetLocalTime, GetTimeZoneInformation,
// GetComputerNameW and GetCurrentThreadId on Windows); and the random bytes a
// backup's identity is drawn from (RtlGenRandom).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keystrip::platform {

struct LocalTime {
    int Year = 0, Month = 0, Day = 0;
    int Hour = 0, Minute = 0, Second = 0;
    int UtcOffsetMinutes = 0; // local time minus UTC
    int Millisecond = 0;
};

LocalTime CurrentLocalTime();

// The NetBIOS name of the computer; empty when the system does not tell.
std::u16string ComputerName();

// Bytes from the system's cryptographic random source; raises EKeystripError
// when it gives none.
std::vector<uint8_t> RandomBytes(size_t count);

// The calling thread's identifier.
uint32_t CurrentThreadId();

} // namespace keystrip::platform
