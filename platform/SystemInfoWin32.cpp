#include "platform/SystemInfo.h"

#include "common/Errors.h"

#include <windows.h>

// RtlGenRandom is advapi32's SystemFunction036: no library beyond the ones
// the program links anyway.
#include <ntsecapi.h>

namespace keystrip::platform {

LocalTime CurrentLocalTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    TIME_ZONE_INFORMATION zone{};
    const DWORD kind = GetTimeZoneInformation(&zone);
    // Bias is UTC minus local time, in minutes; daylight saving adds its own.
    LONG bias = zone.Bias;
    if (kind == TIME_ZONE_ID_DAYLIGHT)
        bias += zone.DaylightBias;
    else if (kind == TIME_ZONE_ID_STANDARD)
        bias += zone.StandardBias;
    else if (kind == TIME_ZONE_ID_INVALID)
        bias = 0;
    LocalTime t;
    t.Year = now.wYear;
    t.Month = now.wMonth;
    t.Day = now.wDay;
    t.Hour = now.wHour;
    t.Minute = now.wMinute;
    t.Second = now.wSecond;
    t.UtcOffsetMinutes = -static_cast<int>(bias);
    t.Millisecond = now.wMilliseconds;
    return t;
}

std::u16string ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size))
        return {};
    return std::u16string(reinterpret_cast<const char16_t*>(name), size);
}

std::vector<uint8_t> RandomBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    if (count > 0 && !RtlGenRandom(bytes.data(), static_cast<ULONG>(count)))
        throw EKeystripError("the system gives no random numbers");
    return bytes;
}

uint32_t CurrentThreadId() {
    return GetCurrentThreadId();
}

} // namespace keystrip::platform
