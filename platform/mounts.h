#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmo {

// The "drives" of this machine: mount points of file systems that live on a device, "/" first, in
// the order of the mount table. Kernel and virtual file systems (/proc, /sys, /dev, cgroups...) are
// left out. Reads /proc/self/mounts; when that is unavailable the root alone.
std::vector<std::string> mountedFileSystems();

// Parses a mount table in the /proc/mounts layout (octal escapes such as \040 decoded).
std::vector<std::string> parseMountTable(std::string_view table);

// The longest mount point that contains path ("/" when none does).
std::string mountPointOf(const std::string& path, const std::vector<std::string>& mountPoints);

} // namespace velmo
