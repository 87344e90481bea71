// Native stand-in: clock_gettime, localtime_r, gethostname, gettid and getrandom.
#include "platform/SystemInfo.h"

#include "common/Errors.h"
#include "common/Utf.h"

#include <cerrno>
#include <ctime>

#include <sys/random.h>
#include <unistd.h>

namespace keystrip::platform {

LocalTime CurrentLocalTime() {
    timespec precise{};
    clock_gettime(CLOCK_REALTIME, &precise);
    const std::time_t now = precise.tv_sec;
    std::tm local{};
    localtime_r(&now, &local);
    LocalTime t;
    t.Year = local.tm_year + 1900;
    t.Month = local.tm_mon + 1;
    t.Day = local.tm_mday;
    t.Hour = local.tm_hour;
    t.Minute = local.tm_min;
    t.Second = local.tm_sec;
    t.UtcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
    t.Millisecond = static_cast<int>(precise.tv_nsec / 1000000);
    return t;
}

std::u16string ComputerName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return Utf8ToUtf16(name);
}

std::vector<uint8_t> RandomBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::getrandom(bytes.data() + done, count - done, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw EKeystripError("the system gives no random numbers");
        done += static_cast<size_t>(n);
    }
    return bytes;
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(gettid());
}

} // namespace keystrip::platform
