// The tests' scratch directory (TempDir.h).
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace ovelta::test {

namespace {

constexpr int kNameAttempts = 100;

std::filesystem::path FromUtf8(const std::string& Name) {
  return std::filesystem::path(std::u8string(Name.begin(), Name.end()));
}

std::string ToUtf8(const std::filesystem::path& Path) {
  const std::u8string text = Path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

TempDir::TempDir(Use AUse) {
  // A fresh name that nobody else has: create_directory refuses an existing one.
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < kNameAttempts && FPath.empty() && !error; ++attempt) {
    const std::filesystem::path candidate =
        base / ("merlig-test-" + std::to_string(random() % 1000000000));
    if (std::filesystem::create_directory(candidate, error)) FPath = ToUtf8(candidate);
  }
  if (FPath.empty()) {
    ADD_FAILURE() << "cannot make a scratch directory";
    return;
  }
  std::filesystem::permissions(FromUtf8(FPath), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace, error);
  if (AUse == Use::kCurrent) {
    FPrevious = ToUtf8(std::filesystem::current_path(error));
    if (error) FPrevious = "/";
    std::filesystem::current_path(FromUtf8(FPath), error);
    EXPECT_FALSE(error) << FPath;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!FPrevious.empty()) {
    std::error_code error;
    std::filesystem::current_path(FromUtf8(FPrevious), error);
    EXPECT_FALSE(error) << FPrevious;
  }
  if (FPath.empty()) return;
  std::filesystem::remove_all(FromUtf8(FPath), ignored);
}

std::string TempDir::File(std::string_view Name) const { return FPath + "/" + std::string(Name); }

std::string TempDir::Write(std::string_view Name, std::string_view Bytes) const {
  const std::filesystem::path file = FromUtf8(File(Name));
  std::error_code ignored;
  std::filesystem::create_directories(file.parent_path(), ignored);
  std::ofstream out(file, std::ios::binary);
  out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  EXPECT_TRUE(out.good()) << File(Name);
  return File(Name);
}

std::string TempDir::Write(std::string_view Name, const std::vector<unsigned char>& Bytes) const {
  return Write(Name, std::string_view(reinterpret_cast<const char*>(Bytes.data()), Bytes.size()));
}

std::error_code PlantLink(const std::string& Target, const std::string& Link) {
  std::error_code error;
  std::filesystem::create_symlink(FromUtf8(Target), FromUtf8(Link), error);
  return error;
}

bool LinksRefused(const std::error_code& Error) {
  return Error == std::errc::operation_not_permitted || Error == std::errc::function_not_supported;
}

bool Exists(const std::string& Name) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(FromUtf8(Name), ignored));
}

}  // namespace ovelta::test
