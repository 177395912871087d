// A directory of its own for a test's files, removed with everything in it at the end.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>

namespace kestrel::test {

class TScratchDir {
 public:
  TScratchDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    std::string name = "kestrel-test-" + std::to_string(random()) + "-" + std::to_string(++counter);
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(path_);
  }
  ~TScratchDir() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  TScratchDir(const TScratchDir&) = delete;
  TScratchDir& operator=(const TScratchDir&) = delete;

  std::string Dir() const { return path_.string() + "/"; }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  // Writes the bytes as they are; returns the file's path.
  std::string Write(const std::string& name, const std::string& content) const {
    std::string path = Path(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    return path;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace kestrel::test
