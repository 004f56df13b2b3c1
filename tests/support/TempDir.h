// A scratch directory for one test, removed with everything in it when the object goes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace ovelta::test {

class TempDir {
 public:
  enum class Use {
    kAside,    // the current directory stays as it is
    kCurrent,  // the directory is the current one for the object's lifetime (code under test
               // that writes beside itself writes there)
  };
  // Makes a fresh directory under the system's temporary directory; a failure fails the test.
  explicit TempDir(Use AUse = Use::kAside);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return FPath; }
  // The path of Name (which may hold "/") inside the directory.
  std::string File(std::string_view Name) const;
  // Writes Bytes to the file Name (making the directories on the way) and returns its path.
  std::string Write(std::string_view Name, std::string_view Bytes) const;
  std::string Write(std::string_view Name, const std::vector<unsigned char>& Bytes) const;

 private:
  std::string FPath;
  std::string FPrevious;  // the current directory before, with Use::kCurrent
};

// Paths in the tests are UTF-8 on every system (the library's rule for file names).
// Plants a symbolic link Link -> Target; the error when the system refuses (Windows refuses
// ordinary users with std::errc::operation_not_permitted unless developer mode is on).
std::error_code PlantLink(const std::string& Target, const std::string& Link);
// True when PlantLink's Error says that this system makes no links for this user (Wine has none).
bool LinksRefused(const std::error_code& Error);
// True when something, a dangling link included, exists under Name (links are not followed).
bool Exists(const std::string& Name);

}  // namespace ovelta::test
