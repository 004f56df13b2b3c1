// A scratch directory for one test, removed with everything in it when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace ovelta::testing_util {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "merlig-util-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a scratch directory";
    FPath = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  // Path of Name inside the directory, as text.
  std::string operator/(const std::string& Name) const { return (FPath / Name).string(); }

  // Writes Text to the file Name (directories on the way are made) and returns its path.
  std::string Write(const std::string& Name, const std::string& Text) const {
    const std::filesystem::path file = FPath / Name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << Text;
    return file.string();
  }

 private:
  std::filesystem::path FPath;
};

}  // namespace ovelta::testing_util
