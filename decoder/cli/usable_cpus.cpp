#include "decoder/cli/usable_cpus.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace qarel::cli {
namespace {

std::string first_line(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// The quota of this process's own control group, else of the root one; control groups v1
// keep quota and period in two files, -1 meaning none.
std::optional<std::uint64_t> cgroup_cpu_limit() {
    std::string group;
    std::ifstream cgroups("/proc/self/cgroup");
    for (std::string line; std::getline(cgroups, line);)
        if (line.rfind("0::", 0) == 0) group = line.substr(3);
    for (const std::string& dir : {"/sys/fs/cgroup" + group, std::string("/sys/fs/cgroup")}) {
        std::ifstream file(dir + "/cpu.max");
        std::string text;
        if (std::getline(file, text)) return cpus_of_cgroup_quota(text);
    }
    const std::string quota = first_line("/sys/fs/cgroup/cpu/cpu.cfs_quota_us");
    if (quota.empty() || quota == "-1") return std::nullopt;
    return cpus_of_cgroup_quota(quota + " " + first_line("/sys/fs/cgroup/cpu/cpu.cfs_period_us"));
}

}  // namespace

std::optional<std::uint64_t> cpus_of_cgroup_quota(std::string_view cpu_max) {
    std::istringstream fields{std::string(cpu_max)};
    std::string quota_text;
    std::uint64_t period = 0;
    if (!(fields >> quota_text >> period) || period == 0 || quota_text == "max") return std::nullopt;
    if (quota_text.empty() || !std::all_of(quota_text.begin(), quota_text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    if (quota_text.size() > 18) return std::nullopt;
    const std::uint64_t quota = std::stoull(quota_text);
    return std::max<std::uint64_t>(1, (quota + period - 1) / period);
}

std::uint64_t usable_cpu_count() {
    std::uint64_t count = std::max(1u, std::thread::hardware_concurrency());
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        count = static_cast<std::uint64_t>(CPU_COUNT(&set));
    if (const auto limit = cgroup_cpu_limit()) count = std::min(count, *limit);
#endif
    return std::max<std::uint64_t>(1, count);
}

}  // namespace qarel::cli
