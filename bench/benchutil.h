// Small helpers shared by the benchmark tools: process limits and the figures
// read from /proc and getrusage.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <sys/resource.h>

namespace bench {

// Raises the soft open-file limit to the hard one; returns the new soft limit.
inline long raiseOpenFileLimit()
{
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur != limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<long>(limit.rlim_cur);
}

inline double monotonicSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline long long monotonicNanoseconds()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// A "Name:   value kB" field of /proc/self/status, as a number (-1 if missing).
inline long statusField(const char *name)
{
    FILE *file = std::fopen("/proc/self/status", "r");
    if (!file)
        return -1;
    char line[256];
    const size_t length = std::strlen(name);
    long value = -1;
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(file);
    return value;
}

inline double peakRssMegabytes() { return statusField("VmHWM") / 1024.0; }
inline long threadCount() { return statusField("Threads"); }

struct CpuTimes
{
    double user { 0 };
    double system { 0 };
    double total() const { return user + system; }
};

inline CpuTimes cpuTimes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    CpuTimes times;
    times.user = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6;
    times.system = usage.ru_stime.tv_sec + usage.ru_stime.tv_usec * 1e-6;
    return times;
}

inline std::string jsonEscape(const std::string &text)
{
    std::string out;
    out.reserve(text.size() + 2);
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out;
}

} // namespace bench
