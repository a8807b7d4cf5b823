// Memory: the limits of the process's control groups, read from a copy of the files the kernel
// shows, and what an address-space limit leaves, in a child process that sets one.
#include "Memory.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "test_support.h"

namespace {

constexpr std::uint64_t kNone = UINT64_MAX;

// The mount lines of the hierarchies as /proc/self/mountinfo shows them on a host.
const std::string kV2Mount = "30 23 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n";
const std::string kV1Mount = "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n";

TEST(CgroupMemoryLeft, TheLeastLeftOverTheGroupAndTheGroupsAboveIt) {
  struct Case {
    std::string name;
    std::string cgroup;     // /proc/self/cgroup
    std::string mountinfo;  // /proc/self/mountinfo
    std::map<std::string, std::string> files;
    std::uint64_t left;
  };
  const Case cases[] = {
      {"v2, the group's own limit",
       "0::/user/job\n",
       kV2Mount,
       {{"sys/fs/cgroup/user/job/memory.max", "1000\n"}, {"sys/fs/cgroup/user/job/memory.current", "400\n"}},
       600},
      {"v2, a tighter limit above the group",
       "0::/user/job\n",
       kV2Mount,
       {{"sys/fs/cgroup/user/job/memory.max", "1000\n"},
        {"sys/fs/cgroup/user/job/memory.current", "400\n"},
        {"sys/fs/cgroup/user/memory.max", "900\n"},
        {"sys/fs/cgroup/user/memory.current", "700\n"}},
       200},
      {"v2, no limit anywhere",
       "0::/user/job\n",
       kV2Mount,
       {{"sys/fs/cgroup/user/job/memory.max", "max\n"}, {"sys/fs/cgroup/user/job/memory.current", "400\n"}},
       kNone},
      {"v2, a group over its limit",
       "0::/job\n",
       kV2Mount,
       {{"sys/fs/cgroup/job/memory.max", "1000\n"}, {"sys/fs/cgroup/job/memory.current", "1200\n"}},
       0},
      {"v2, the root group", "0::/\n", kV2Mount, {{"sys/fs/cgroup/memory.current", "5000\n"}}, kNone},
      {"v1, the memory controller among others",
       "5:cpu,memory:/job\n3:pids:/job\n",
       kV1Mount,
       {{"sys/fs/cgroup/memory/job/memory.limit_in_bytes", "1000\n"},
        {"sys/fs/cgroup/memory/job/memory.usage_in_bytes", "100\n"}},
       900},
      {"v1, unlimited",
       "4:memory:/job\n",
       kV1Mount,
       {{"sys/fs/cgroup/memory/job/memory.limit_in_bytes", "9223372036854771712\n"},
        {"sys/fs/cgroup/memory/job/memory.usage_in_bytes", "100\n"}},
       9223372036854771612u},
      {"v1 and v2 both set: the least",
       "4:memory:/a\n0::/b\n",
       kV1Mount + kV2Mount,
       {{"sys/fs/cgroup/memory/a/memory.limit_in_bytes", "5000\n"},
        {"sys/fs/cgroup/memory/a/memory.usage_in_bytes", "1000\n"},
        {"sys/fs/cgroup/b/memory.max", "3000\n"},
        {"sys/fs/cgroup/b/memory.current", "0\n"}},
       3000},
      {"a container whose mount shows its own group at the top",
       "0::/docker/abc\n",
       "30 23 0:26 /docker/abc /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n",
       {{"sys/fs/cgroup/memory.max", "2000\n"}, {"sys/fs/cgroup/memory.current", "500\n"}},
       1500},
      {"a group outside what is mounted",
       "0::/elsewhere\n",
       "30 23 0:26 /docker/abc /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n",
       {{"sys/fs/cgroup/memory.max", "2000\n"}},
       kNone},
      {"a mount point with a blank, optional fields before the separator",
       "0::/job\n",
       "30 23 0:26 / /my\\040groups rw shared:4 master:1 - cgroup2 none rw\n",
       {{"my groups/job/memory.max", "700\n"}, {"my groups/job/memory.current", "200\n"}},
       500},
      {"no memory hierarchy mounted", "0::/job\n4:memory:/job\n", "", {}, kNone},
      {"no files at all", "", "", {}, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir root;
    std::filesystem::create_directories(root.file("proc/self"));
    write_file(root.file("proc/self/cgroup"), c.cgroup);
    write_file(root.file("proc/self/mountinfo"), c.mountinfo);
    for (const auto& [path, text] : c.files) {
      std::filesystem::create_directories(std::filesystem::path(root.file(path)).parent_path());
      write_file(root.file(path), text);
    }
    EXPECT_EQ(cgroup_memory_left(root.path()), c.left);
  }
}

// Reads /proc/self/status field (in kB) as bytes.
std::uint64_t status_bytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stoull(line.substr(field.size())) * 1024;
  }
  return 0;
}

// A child process limits its address space to what it has mapped plus 64 MiB: what is available is
// then at most those 64 MiB, whatever the machine has.
TEST(AvailableMemory, AnAddressSpaceLimitLeavesWhatIsNotMappedYet) {
  constexpr std::uint64_t kRoom = std::uint64_t{64} << 20;
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{status_bytes("VmSize:") + kRoom, RLIM_INFINITY};
    std::uint64_t available = 0;
    if (::setrlimit(RLIMIT_AS, &limit) == 0) available = available_memory();
    const ssize_t written = ::write(pipe_ends[1], &available, sizeof available);
    ::_exit(written == sizeof available ? 0 : 1);
  }
  std::uint64_t available = 0;
  const ssize_t got = ::read(pipe_ends[0], &available, sizeof available);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(pipe_ends[0]);
  ::close(pipe_ends[1]);
  ASSERT_EQ(got, ssize_t(sizeof available));
  EXPECT_GT(available, 0u);
  EXPECT_LE(available, kRoom);
  EXPECT_GT(available, kRoom / 2);  // the child mapped little after reading its size
}

}  // namespace
