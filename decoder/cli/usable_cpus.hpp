#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qarel::cli {

// The CPUs this process may use: the hardware threads, narrowed to its CPU affinity and to
// its control group's CPU quota where the system has them; at least 1.
std::uint64_t usable_cpu_count();

// A control group v2 "cpu.max" text ("QUOTA PERIOD" or "max PERIOD") as whole CPUs, rounded
// up; none when unlimited or unreadable.
std::optional<std::uint64_t> cpus_of_cgroup_quota(std::string_view cpu_max);

}  // namespace qarel::cli
