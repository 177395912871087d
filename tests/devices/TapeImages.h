// Tape images written by hand for the tape tests, and a temporary directory that holds them.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/KestCore.h"

namespace kestrel::test {

// The message of what `action` throws, or "(no error)".
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

class TTempDir {
 public:
  TTempDir() {
    static std::atomic<int> counter{0};
    std::random_device random;
    Dir = (std::filesystem::temp_directory_path() /
           ("kestrel-tape-" + std::to_string(random()) + "-" + std::to_string(counter++)))
              .string();
    std::filesystem::create_directories(Dir);
  }
  ~TTempDir() {
    std::error_code error;
    std::filesystem::remove_all(Dir, error);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  std::string Path(const std::string& name) const {
    return (std::filesystem::path(Dir) / name).string();
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string path = Path(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  std::string Dir;
};

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The codes of display characters ("o" lozenge, "r" record mark, "g" group mark).
inline std::vector<uint8_t> Codes(const std::string& text) {
  std::vector<uint8_t> codes;
  for (char c : text)
    codes.push_back(CharToBcd(c));
  return codes;
}

// ---- MT layout: little-endian length words around each record, 0 for a tape mark ----

inline void AppendLength(std::vector<uint8_t>& image, int32_t length) {
  auto value = static_cast<uint32_t>(length);
  for (int shift = 0; shift < 32; shift += 8)
    image.push_back(static_cast<uint8_t>(value >> shift));
}

inline void AppendMTRecord(std::vector<uint8_t>& image, const std::vector<uint8_t>& data) {
  AppendLength(image, static_cast<int32_t>(data.size()));
  image.insert(image.end(), data.begin(), data.end());
  if (data.size() % 2 != 0) image.push_back(0xEE);  // pad: any value
  AppendLength(image, static_cast<int32_t>(data.size()));
}

inline void AppendMTMark(std::vector<uint8_t>& image) {
  AppendLength(image, 0);
}

}  // namespace kestrel::test
