#include "Memory.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <new>
#include <optional>
#include <sstream>
#include <string_view>

namespace {

constexpr std::uint64_t kNoLimit = UINT64_MAX;

std::uint64_t left_under(std::uint64_t limit, std::uint64_t used) {
  return limit > used ? limit - used : 0;
}

// The kernel's estimate of the memory it can hand out without swapping, for every process together.
std::uint64_t system_memory_available() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kibibytes = 0;
  std::string unit;
  while (meminfo >> key >> kibibytes >> unit) {
    if (key == "MemAvailable:") return kibibytes * 1024;
  }
  const long pages = ::sysconf(_SC_AVPHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0)
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
  return kNoLimit;
}

// A field of /proc/self/status given in kB ("VmSize:"), in bytes; 0 when it is missing.
std::uint64_t status_bytes(std::string_view field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, field.size(), field) != 0) continue;
    std::istringstream values(line.substr(field.size()));
    std::uint64_t kibibytes = 0;
    values >> kibibytes;
    return kibibytes * 1024;
  }
  return 0;
}

// What a resource limit on mappings leaves beside what the process has mapped (the status field).
std::uint64_t rlimit_left(int resource, std::string_view status_field) {
  rlimit limit{};
  if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kNoLimit;
  return left_under(limit.rlim_cur, status_bytes(status_field));
}

// The number a cgroup file starts with; kNoLimit for "max", a missing file or anything else.
std::uint64_t read_cgroup_number(const std::string& path) {
  std::ifstream file(path);
  std::string word;
  if (!(file >> word)) return kNoLimit;
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  return error == std::errc{} && end == word.data() + word.size() ? value : kNoLimit;
}

// Mount points in /proc/self/mountinfo write a blank, a tab, a line feed and a backslash as \ooo.
std::string unescape_mount_path(std::string_view text) {
  auto octal = [&](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '7'; };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += char((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

// One control-group hierarchy that can limit memory: version 2, or the memory controller of version 1.
struct MemoryHierarchy {
  bool v2;
  const char* limit_file;
  const char* usage_file;
};
constexpr MemoryHierarchy kHierarchies[] = {{true, "memory.max", "memory.current"},
                                            {false, "memory.limit_in_bytes", "memory.usage_in_bytes"}};

bool lists_memory(std::string_view list) {
  for (std::size_t begin = 0; begin <= list.size();) {
    std::size_t end = list.find(',', begin);
    if (end == std::string_view::npos) end = list.size();
    if (list.substr(begin, end - begin) == "memory") return true;
    begin = end + 1;
  }
  return false;
}

// The process's group in a hierarchy, from the lines "ID:CONTROLLERS:PATH" of /proc/self/cgroup
// (version 2 has ID 0 and no controllers); empty when it has none.
std::string group_path(const std::string& root, const MemoryHierarchy& hierarchy) {
  std::ifstream cgroup(root + "/proc/self/cgroup");
  for (std::string line; std::getline(cgroup, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string_view id = std::string_view(line).substr(0, first);
    const std::string_view controllers = std::string_view(line).substr(first + 1, second - first - 1);
    const bool match = hierarchy.v2 ? id == "0" && controllers.empty() : lists_memory(controllers);
    if (match) return line.substr(second + 1);
  }
  return "";
}

// Where a hierarchy is mounted, and which of its groups the mount shows at its top, from a line of
// /proc/self/mountinfo: "ID PARENT MAJOR:MINOR ROOT MOUNT_POINT OPTIONS... - TYPE SOURCE SUPER_OPTIONS".
struct Mount {
  std::string root;
  std::string point;
};

std::optional<Mount> find_mount(const std::string& root, const MemoryHierarchy& hierarchy) {
  std::ifstream mountinfo(root + "/proc/self/mountinfo");
  for (std::string line; std::getline(mountinfo, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, group_root, point, word;
    fields >> id >> parent >> device >> group_root >> point;
    while (fields >> word && word != "-") {
    }
    std::string type, source, super_options;
    fields >> type >> source >> super_options;
    const bool match = hierarchy.v2 ? type == "cgroup2" : type == "cgroup" && lists_memory(super_options);
    if (match) return Mount{unescape_mount_path(group_root), unescape_mount_path(point)};
  }
  return std::nullopt;
}

// What the limits of the process's group and the groups above it leave, in one hierarchy.
std::uint64_t hierarchy_left(const std::string& root, const MemoryHierarchy& hierarchy) {
  const std::string group = group_path(root, hierarchy);
  const std::optional<Mount> mount = find_mount(root, hierarchy);
  if (group.empty() || !mount) return kNoLimit;
  // The mount shows the groups under its root only.
  std::string relative;
  if (mount->root == "/") {
    relative = group == "/" ? "" : group;
  } else if (group == mount->root) {
    relative = "";
  } else if (group.compare(0, mount->root.size() + 1, mount->root + "/") == 0) {
    relative = group.substr(mount->root.size());
  } else {
    return kNoLimit;
  }
  std::uint64_t least = kNoLimit;
  for (;;) {
    const std::string folder = root + mount->point + relative + "/";
    const std::uint64_t limit = read_cgroup_number(folder + hierarchy.limit_file);
    if (limit != kNoLimit) {
      const std::uint64_t usage = read_cgroup_number(folder + hierarchy.usage_file);
      least = std::min(least, left_under(limit, usage == kNoLimit ? 0 : usage));
    }
    if (relative.empty()) return least;
    relative.erase(relative.rfind('/'));
  }
}

}  // namespace

std::uint64_t cgroup_memory_left(const std::string& root) {
  std::uint64_t least = kNoLimit;
  for (const MemoryHierarchy& hierarchy : kHierarchies)
    least = std::min(least, hierarchy_left(root, hierarchy));
  return least;
}

std::uint64_t available_memory() {
  return std::min({system_memory_available(), rlimit_left(RLIMIT_AS, "VmSize:"),
                   rlimit_left(RLIMIT_DATA, "VmData:"), cgroup_memory_left()});
}

void* allocate_large_pages(std::size_t bytes) {
  constexpr std::size_t kPage = std::size_t{2} << 20;
  const std::size_t rounded = (std::max<std::size_t>(bytes, 1) + kPage - 1) / kPage * kPage;
  void* memory = std::aligned_alloc(kPage, rounded);
  if (memory == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(memory, rounded, MADV_HUGEPAGE);  // only a hint: without it the pages are small
#endif
  return memory;
}

ScatteredWords::ScatteredWords(std::size_t size)
    : data_(static_cast<std::uint32_t*>(allocate_large_pages(size * sizeof(std::uint32_t)))) {}

std::string format_bytes(std::uint64_t bytes) {
  static const char* const units[] = {"bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  auto value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 6) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  }
  return text;
}
