// Giving up privileges: every capability set empty afterwards, and the environment cleared of
// what would make the toolkit load code or read files of the starting user's choosing.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/core/Privileges.h"
#include "support/ChildProcess.h"

namespace ovelta {
namespace {

// The capability sets of this process as /proc shows them ("CapEff" -> "0000000000000400").
std::string CapabilitySet(const std::string& Name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(Name + ":", 0) == 0)
      return line.substr(line.find_first_not_of(" \t", Name.size() + 1));
  return "missing";
}

TEST(Privileges, DroppingEmptiesEverySetTheAmbientOneIncluded) {
  if (CapabilitySet("CapPrm") == "0000000000000000")
    GTEST_SKIP() << "this process holds no capability to give up";
  test::ChildProcess child;
  ASSERT_TRUE(child.StartFunction([] {
    // Hold the port capability in every set first, as a service's ambient capability does.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return 10;
    data[0].inheritable |= 1u << CAP_NET_BIND_SERVICE;
    if (::syscall(SYS_capset, &header, data) != 0) return 11;
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_NET_BIND_SERVICE, 0, 0) != 0) return 12;
    if (CapabilitySet("CapAmb") == "0000000000000000") return 13;
    std::string error;
    if (!DropCapabilities(&error)) return 20;
    for (const char* set : {"CapEff", "CapPrm", "CapInh", "CapAmb"})
      if (CapabilitySet(set) != "0000000000000000") return 30;
    // Dropping again, with nothing left, still succeeds.
    return DropCapabilities(&error) ? 0 : 40;
  }));
  EXPECT_EQ(child.Wait(test::ChildProcess::kStopMs), 0);
}

TEST(Privileges, TheUntrustedEnvironmentGoesAndTheRestStays) {
  struct Case {
    const char* Name;
    const char* Value;
    const char* After;  // null: removed
  };
  const Case cases[] = {
      {"QT_PLUGIN_PATH", "/tmp/p", nullptr},
      {"QT_QPA_PLATFORM_PLUGIN_PATH", "/tmp/p", nullptr},
      {"QT_QPA_PLATFORMTHEME", "gtk3", nullptr},
      {"QT_STYLE_OVERRIDE", "evil", nullptr},
      {"QT_IM_MODULE", "evil", nullptr},
      {"QT_QPA_GENERIC_PLUGINS", "evil", nullptr},
      {"QT_DEBUG_PLUGINS", "1", nullptr},
      {"QT_A_VARIABLE_OF_A_LATER_RELEASE", "x", nullptr},
      {"QML2_IMPORT_PATH", "/tmp/q", nullptr},
      {"GTK_MODULES", "evil", nullptr},
      {"GIO_EXTRA_MODULES", "/tmp/g", nullptr},
      {"LIBGL_DRIVERS_PATH", "/tmp/d", nullptr},
      {"XDG_CURRENT_DESKTOP", "GNOME", nullptr},
      {"QT_QPA_PLATFORM", "offscreen:configfile=/tmp/c;xcb:x=1", "offscreen;xcb"},
      {"QT_SCALE_FACTOR", "2", "2"},
      {"DISPLAY", ":0", ":0"},
      {"XDG_RUNTIME_DIR", "/run/user/1", "/run/user/1"},
  };
  for (const Case& c : cases) ::setenv(c.Name, c.Value, 1);
  ClearUntrustedEnvironment();
  for (const Case& c : cases) {
    const char* now = std::getenv(c.Name);
    if (c.After)
      EXPECT_STREQ(now, c.After) << c.Name;
    else
      EXPECT_EQ(now, nullptr) << c.Name;
    ::unsetenv(c.Name);
  }
  EXPECT_FALSE(UntrustedVariable("PATH"));
  EXPECT_FALSE(UntrustedVariable("QT_QPA_PLATFORM"));
  EXPECT_TRUE(UntrustedVariable("QT_QPA_PLATFORMTHEME"));
}

}  // namespace
}  // namespace ovelta
