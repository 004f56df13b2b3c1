// The tests' scratch directory (TempDir.h).
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ovelta::test {

TempDir::TempDir(Use AUse) {
  std::string pattern = (std::filesystem::temp_directory_path() / "merlig-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a scratch directory";
    return;
  }
  FPath = pattern;
  if (AUse == Use::kCurrent) {
    std::error_code error;
    FPrevious = std::filesystem::current_path(error).string();
    if (error) FPrevious = "/";
    EXPECT_EQ(::chdir(FPath.c_str()), 0) << FPath;
  }
}

TempDir::~TempDir() {
  if (!FPrevious.empty()) {
    EXPECT_EQ(::chdir(FPrevious.c_str()), 0) << FPrevious;
  }
  if (FPath.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

std::string TempDir::File(std::string_view Name) const { return FPath + "/" + std::string(Name); }

std::string TempDir::Write(std::string_view Name, std::string_view Bytes) const {
  const std::filesystem::path file = File(Name);
  std::error_code ignored;
  std::filesystem::create_directories(file.parent_path(), ignored);
  std::ofstream out(file, std::ios::binary);
  out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  EXPECT_TRUE(out.good()) << file;
  return file.string();
}

std::string TempDir::Write(std::string_view Name, const std::vector<unsigned char>& Bytes) const {
  return Write(Name, std::string_view(reinterpret_cast<const char*>(Bytes.data()), Bytes.size()));
}

}  // namespace ovelta::test
