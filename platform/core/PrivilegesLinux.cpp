// Privileges on Linux: secure mode from the auxiliary vector, capabilities given up with capset
// and prctl (no libcap), and the environment variables that make Qt and the libraries under it
// load code or read files.
#include "platform/core/Privileges.h"

#include <linux/capability.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace ovelta {

namespace {

// Qt reads dozens of QT_ (and QML_) variables, and a new release may add one that names a
// library or a plugin (QT_PLUGIN_PATH, QT_QPA_PLATFORM_PLUGIN_PATH, QT_QPA_PLATFORMTHEME,
// QT_QPA_GENERIC_PLUGINS, QT_STYLE_OVERRIDE, QT_IM_MODULE, QT_XCB_GL_INTEGRATION,
// QT_QPA_EGLFS_INTEGRATION, QT_PRINTER_MODULE, QT_LOAD_TESTABILITY and QT_VULKAN_LIB load code;
// QT_QPA_FONTDIR, QT_QPA_EGLFS_KMS_CONFIG, QT_QPA_EVDEV_*, QT_LOGGING_CONF read files;
// QT_DEBUG_PLUGINS tells where plugins are sought). So every one goes but these, which only set
// numbers for the screen's scale.
const char* const kTrustedQtVariables[] = {
    "QT_SCALE_FACTOR",        "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING",
    "QT_SCALE_FACTOR_ROUNDING_POLICY", "QT_FONT_DPI",    "QT_USE_PHYSICAL_DPI",
};
const char* const kToolkitPrefixes[] = {"QT_", "QML_", "QML2_"};
// QT_QPA_PLATFORM stays (it chooses among the system's platform plugins once the plugin paths are
// gone, and the program needs "offscreen" without a display), without its options, some of which
// name files or devices.
constexpr const char* kPlatformVariable = "QT_QPA_PLATFORM";

// The libraries under Qt. glibc removes its own (LD_*, GCONV_PATH, LOCPATH, NLSPATH, TMPDIR...)
// in secure mode, and libdbus, OpenSSL, libxkbcommon and the Vulkan loader ignore theirs there;
// the ones below are not guarded that way, or only against set-user-ID (uid != euid), which a
// file capability does not change. The user's own configuration (HOME, XDG_CONFIG_HOME) is left:
// what it names is read with the user's own rights once the capabilities are gone.
const char* const kUntrustedVariables[] = {
    // Choose the platform theme plugin (GTK, KDE...) that Qt loads when QT_QPA_PLATFORMTHEME is
    // not set.
    "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
    "KDE_SESSION_VERSION",
    // GTK, under a GTK platform theme: modules loaded at start-up, and its search paths.
    "GTK_MODULES", "GTK3_MODULES", "GTK_PATH", "GTK_EXE_PREFIX", "GTK_DATA_PREFIX",
    // GTK: the input-method module and the file that lists the modules; the theme's CSS.
    "GTK_IM_MODULE", "GTK_IM_MODULE_FILE", "GTK_THEME",
    // GIO (GLib's I/O library, under GTK and Qt's network information): modules and the
    // settings back end, which is one too.
    "GIO_EXTRA_MODULES", "GIO_MODULE_DIR", "GSETTINGS_BACKEND", "GSETTINGS_SCHEMA_DIR",
    // gdk-pixbuf: image loader modules.
    "GDK_PIXBUF_MODULE_FILE", "GDK_PIXBUF_MODULEDIR",
    // Mesa and libglvnd: GL and EGL drivers and vendor libraries (guarded against set-user-ID
    // only).
    "LIBGL_DRIVERS_PATH", "LIBGL_DRIVERS_DIR", "MESA_LOADER_DRIVER_OVERRIDE", "GBM_BACKENDS_PATH",
    "GBM_BACKEND", "__EGL_VENDOR_LIBRARY_DIRS", "__EGL_VENDOR_LIBRARY_FILENAMES",
    "__EGL_EXTERNAL_PLATFORM_CONFIG_DIRS", "__EGL_EXTERNAL_PLATFORM_CONFIG_FILENAMES",
    "__GLX_VENDOR_LIBRARY_NAME",
    // The Vulkan loader: drivers and layers.
    "VK_ICD_FILENAMES", "VK_DRIVER_FILES", "VK_ADD_DRIVER_FILES", "VK_LAYER_PATH",
    "VK_ADD_LAYER_PATH", "VK_INSTANCE_LAYERS",
    // OpenSSL, under Qt's TLS back end: its configuration loads engines and providers.
    "OPENSSL_CONF", "OPENSSL_ENGINES", "OPENSSL_MODULES",
    // libX11's locale files and loadable input-method modules.
    "XLOCALEDIR",
    // libXcursor: cursor files.
    "XCURSOR_PATH", "XCURSOR_THEME",
    // libxkbcommon: keyboard descriptions and compose tables.
    "XKB_CONFIG_ROOT", "XKB_CONFIG_EXTRA_PATH", "XCOMPOSEFILE", "XCOMPOSECACHE",
    // fontconfig: its configuration, which names font directories and files.
    "FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT",
    // ICU, under QtCore: its data files.
    "ICU_DATA", "ICU_TIMEZONE_FILES_DIR",
    // Qt's own time-zone reader opens TZ as a file name below the zone directory or as a path.
    "TZ",
    // The system-wide search lists of Qt (logging rules, MIME and icon themes) and fontconfig,
    // which would otherwise be the system's own directories.
    "XDG_CONFIG_DIRS", "XDG_DATA_DIRS",
};

bool StartsWith(const std::string& Text, const char* Prefix) {
  return Text.compare(0, std::strlen(Prefix), Prefix) == 0;
}

// "xcb:opt=1;offscreen:configfile=x" is "xcb;offscreen": the names of a list of platforms.
std::string PlatformNames(const std::string& Value) {
  std::string names;
  std::size_t start = 0;
  while (start <= Value.size()) {
    std::size_t end = Value.find(';', start);
    if (end == std::string::npos) end = Value.size();
    const std::string entry = Value.substr(start, end - start);
    if (!names.empty()) names += ';';
    names += entry.substr(0, entry.find(':'));
    start = end + 1;
  }
  return names;
}

}  // namespace

bool SecureExecution() { return ::getauxval(AT_SECURE) != 0; }

bool DropCapabilities(std::string* Error) {
  // The ambient set first (it also empties once the permitted set is empty; a kernel before 4.3
  // has none and answers EINVAL).
  if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
    if (Error) *Error = std::string("prctl(PR_CAP_AMBIENT_CLEAR_ALL): ") + std::strerror(errno);
    return false;
  }
  __user_cap_header_struct header{};
  header.version = _LINUX_CAPABILITY_VERSION_3;
  header.pid = 0;
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capset, &header, data) != 0) {
    const int code = errno;
    // A process that holds nothing has nothing to give up, whatever the system allows.
    __user_cap_data_struct held[_LINUX_CAPABILITY_U32S_3] = {};
    bool none = ::syscall(SYS_capget, &header, held) == 0;
    for (const auto& word : held)
      none = none && word.effective == 0 && word.permitted == 0 && word.inheritable == 0;
    if (none) return true;
    if (Error) *Error = std::string("capset: ") + std::strerror(code);
    return false;
  }
  // What the kernel kept, if anything, is checked rather than assumed.
  if (::syscall(SYS_capget, &header, data) != 0) {
    if (Error) *Error = std::string("capget: ") + std::strerror(errno);
    return false;
  }
  for (const auto& word : data) {
    if (word.effective != 0 || word.permitted != 0 || word.inheritable != 0) {
      if (Error) *Error = "capset left a capability";
      return false;
    }
  }
  return true;
}

bool UntrustedVariable(const std::string& Name) {
  if (Name == kPlatformVariable) return false;
  for (const char* prefix : kToolkitPrefixes) {
    if (!StartsWith(Name, prefix)) continue;
    for (const char* trusted : kTrustedQtVariables)
      if (Name == trusted) return false;
    return true;
  }
  for (const char* name : kUntrustedVariables)
    if (Name == name) return true;
  return false;
}

std::vector<std::string> ClearUntrustedEnvironment() {
  // The names are gathered first: unsetenv changes the array being walked.
  std::vector<std::string> names;
  for (char** entry = environ; entry && *entry; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    if (!equals) continue;
    names.emplace_back(*entry, static_cast<std::size_t>(equals - *entry));
  }
  std::vector<std::string> changed;
  for (const std::string& name : names) {
    if (name == kPlatformVariable) {
      const char* value = std::getenv(kPlatformVariable);
      const std::string names_only = PlatformNames(value ? value : "");
      if (value && names_only != value) {
        ::setenv(kPlatformVariable, names_only.c_str(), 1);
        changed.push_back(name);
      }
    } else if (UntrustedVariable(name)) {
      ::unsetenv(name.c_str());
      changed.push_back(name);
    }
  }
  return changed;
}

}  // namespace ovelta
