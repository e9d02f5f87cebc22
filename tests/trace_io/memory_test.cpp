// The memory a process's cgroups leave it: its own cgroup's limit and its
// parents', v1 and v2, found where mountinfo says they are mounted; on a
// tree of files made here, and on a real cgroup where the test may make
// one.

#include "trace_io/memory.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "test_support.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

class CgroupMemoryTest : public ScratchTest {
 protected:
  // A cgroup's files under the scratch folder: "-" for a file not there.
  void Cgroup(const std::string& dir, const std::string& limit, const std::string& usage) {
    fs::create_directories("." + dir);
    if (limit != "-") WriteFile("." + dir + "/" + limit_name_, limit + "\n");
    if (usage != "-") WriteFile("." + dir + "/" + usage_name_, usage + "\n");
  }
  std::string limit_name_, usage_name_;
};

constexpr const char* kV1Mounts =
    "31 23 0:28 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n"
    "32 31 0:29 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n"
    "35 31 0:32 / /sys/fs/cgroup/memory rw,relatime shared:9 - cgroup cgroup rw,memory\n";
constexpr const char* kV2Mounts = "25 1 0:23 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
// A container's view: the mount's root is the container's own cgroup.
constexpr const char* kContainerMounts =
    "40 31 0:32 /box /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n";

TEST_F(CgroupMemoryTest, OwnCgroupAndTheTighterOfItsParents) {
  std::string huge = "9223372036854771712";  // v1's "no limit"
  struct Case {
    const char* name;
    bool v2;
    const char* mounts;
    const char* cgroups;
    std::vector<std::vector<std::string>> dirs;  // path, limit, usage
    bool limited;
    uint64_t headroom;
  } cases[] = {
      {"v1: the process's own cgroup, not the root's",
       false,
       kV1Mounts,
       "4:memory:/jobs/a\n1:cpu:/\n0::/\n",
       {{"/sys/fs/cgroup/memory", huge, "1"},
        {"/sys/fs/cgroup/memory/jobs/a", "314572800", "104857600"}},
       true,
       200 * kMiB},
      {"v1: a parent tighter than the cgroup",
       false,
       kV1Mounts,
       "4:memory:/jobs/a\n",
       {{"/sys/fs/cgroup/memory/jobs", "209715200", "157286400"},
        {"/sys/fs/cgroup/memory/jobs/a", huge, "104857600"}},
       true,
       50 * kMiB},
      {"v1: no limit anywhere",
       false,
       kV1Mounts,
       "4:memory:/jobs/a\n",
       {{"/sys/fs/cgroup/memory/jobs/a", huge, "1"}},
       false,
       UINT64_MAX},
      {"v1: a controller list with memory in it",
       false,
       "35 31 0:32 / /sys/fs/cgroup/cpu,memory rw - cgroup cgroup rw,cpu,memory\n",
       "4:cpu,memory:/a\n",
       {{"/sys/fs/cgroup/cpu,memory/a", "104857600", "0"}},
       true,
       100 * kMiB},
      {"v1: inside a container, paths from the mount's root",
       false,
       kContainerMounts,
       "4:memory:/box/job\n",
       {{"/sys/fs/cgroup/memory", "104857600", "52428800"},
        {"/sys/fs/cgroup/memory/job", huge, "0"}},
       true,
       50 * kMiB},
      {"v2: own and parent, the tighter",
       true,
       kV2Mounts,
       "0::/user/job\n",
       {{"/sys/fs/cgroup/user", "104857600", "94371840"}, {"/sys/fs/cgroup/user/job", "max", "0"}},
       true,
       10 * kMiB},
      {"v2: max everywhere",
       true,
       kV2Mounts,
       "0::/user/job\n",
       {{"/sys/fs/cgroup/user/job", "max", "5"}},
       false,
       UINT64_MAX},
      {"usage above the limit leaves nothing",
       true,
       kV2Mounts,
       "0::/a\n",
       {{"/sys/fs/cgroup/a", "100", "200"}},
       true,
       0},
      {"no mount of the hierarchy",
       false,
       kV2Mounts,
       "4:memory:/a\n",
       {{"/sys/fs/cgroup/memory/a", "100", "0"}},
       false,
       UINT64_MAX},
  };
  for (const Case& c : cases) {
    fs::remove_all("sys");
    limit_name_ = c.v2 ? "memory.max" : "memory.limit_in_bytes";
    usage_name_ = c.v2 ? "memory.current" : "memory.usage_in_bytes";
    for (const auto& d : c.dirs) Cgroup(d[0], d[1], d[2]);
    CgroupMemory m = cgroup_memory(c.cgroups, c.mounts, fs::current_path().string());
    EXPECT_EQ(c.limited, m.limited) << c.name;
    EXPECT_EQ(c.headroom, m.headroom) << c.name;
  }
}

// A real cgroup: a child of the test's own, limited, with an unlimited
// child of its own that the tool runs in; a gzip bomb of a trace is then
// refused with a message instead of being killed by the kernel.
TEST_F(CgroupMemoryTest, RealCgroupParentLimitIsObeyed) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer's own memory would meet the limit first";
#endif
  std::ifstream in("/proc/self/cgroup");
  std::string line, base, limit_file;
  while (std::getline(in, line)) {
    size_t a = line.find(':'), b = line.find(':', a + 1);
    std::string controllers = line.substr(a + 1, b - a - 1);
    if (controllers == "memory" || controllers.find("memory,") == 0 ||
        controllers.find(",memory") != std::string::npos) {
      base = "/sys/fs/cgroup/memory" + line.substr(b + 1);
      limit_file = "memory.limit_in_bytes";
    } else if (line.rfind("0::", 0) == 0 && base.empty() &&
               Exists("/sys/fs/cgroup/cgroup.controllers")) {
      base = "/sys/fs/cgroup" + line.substr(3);
      limit_file = "memory.max";
    }
  }
  std::string parent = base + "/trace_io_test." + std::to_string(getpid());
  if (base.empty() || mkdir(parent.c_str(), 0755) != 0)
    GTEST_SKIP() << "no cgroup to make here (needs root and a memory cgroup)";
  std::string child = parent + "/run";
  bool made = mkdir(child.c_str(), 0755) == 0;
  { std::ofstream(parent + "/" + limit_file) << 200 * kMiB << "\n"; }
  if (made && limit_file == "memory.max") {
    // v2: the parent must hand the memory controller down.
    std::ofstream(parent + "/cgroup.subtree_control") << "+memory\n";
  }
  Shell("yes '0.000000 1 1 100 0 1' | head -n 20000000 | gzip -1 > bomb.gz");
  WriteFile("sd", "0.0 1 1 100 0 1\n");
  WriteFile("rd", "");
  std::string command = "sh -c 'echo $$ > " + child + "/cgroup.procs && exec \"" +
                        std::string(TRACE_REPORT_BINARY) +
                        "\" bomb.gz sd sd rd' 2>&1; echo status=$?";
  std::string out = made ? Shell(command) : "";
  rmdir(child.c_str());
  rmdir(parent.c_str());
  ASSERT_TRUE(made);
  EXPECT_NE(std::string::npos, out.find("bomb.gz:")) << out;
  EXPECT_NE(std::string::npos, out.find("of memory this process can get")) << out;
  EXPECT_NE(std::string::npos, out.find("status=1")) << out;
}

}  // namespace
