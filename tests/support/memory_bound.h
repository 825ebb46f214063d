#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <new>
#include <string_view>

namespace zentrowe::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif
#else
inline constexpr bool kThreadSanitizer = false;
#endif

inline constexpr std::uint64_t kMemoryBound = 1ULL << 30;

struct BoundedRun {
    int exitCode = -1;                // the body's, or -1 if the child was killed
    std::int64_t peakResidentBytes = 0;
};

// Runs `body` in a forked child and returns its exit code and peak resident memory. The child's
// address space is limited to kMemoryBound, so that a header-sized allocation fails there instead
// of taking the machine; under AddressSanitizer or ThreadSanitizer, which reserve terabytes of
// address space, only the resident memory tells. A std::bad_alloc in the child exits with 99.
inline BoundedRun runWithinMemoryBound(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (!kAddressSanitizer && !kThreadSanitizer) {
            const rlimit limit{kMemoryBound, kMemoryBound};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        int code = 0;
        try {
            code = body();
        } catch (const std::bad_alloc&) {
            code = 99;
        }
        ::_exit(code);
    }
    BoundedRun run;
    int status = 0;
    rusage usage{};
    if (child > 0 && ::wait4(child, &status, 0, &usage) == child) {
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.peakResidentBytes = static_cast<std::int64_t>(usage.ru_maxrss) * 1024;
    }
    return run;
}

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"), 0 where unknown.
inline std::int64_t statusBytes(const char* field)
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return 0;
    }
    char line[256];
    char name[64];
    long long kilobytes = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "%63[^:]: %lld kB", name, &kilobytes) == 2 && std::string_view(name) == field) {
            std::fclose(status);
            return static_cast<std::int64_t>(kilobytes) * 1024;
        }
    }
    std::fclose(status);
    return 0;
}

// What this process's resident memory grows by, at its peak, while `body` runs: for a body run
// inside runWithinMemoryBound, whose child starts with whatever the tests before it left.
// Nothing (0) where the kernel cannot reset the peak.
inline std::int64_t residentGrowth(const std::function<void()>& body)
{
    std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
    const bool reset = clear != nullptr && std::fputs("5", clear) >= 0;
    if (clear != nullptr) {
        std::fclose(clear);
    }
    const std::int64_t before = statusBytes("VmRSS");
    body();
    return reset ? statusBytes("VmHWM") - before : 0;
}

}  // namespace zentrowe::testing
