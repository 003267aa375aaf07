// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes out of scope.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace vantor::testing {

class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("vantor-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes `bytes` exactly as given (binary) to `name` and returns its full
  // path as UTF-8, the form the readers take.
  std::string Write(const std::string& name, std::string_view bytes) const {
    std::filesystem::path file = path_ / FromUtf8(name);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return Utf8(file);
  }

  // Full path of `name` in this directory, UTF-8, without creating it.
  std::string PathOf(const std::string& name) const { return Utf8(path_ / FromUtf8(name)); }

 private:
  static std::filesystem::path FromUtf8(const std::string& s) {
    return std::filesystem::path(std::u8string(s.begin(), s.end()));
  }
  static std::string Utf8(const std::filesystem::path& p) {
    auto u8 = p.u8string();
    return std::string(u8.begin(), u8.end());
  }

  std::filesystem::path path_;
};

}  // namespace vantor::testing
