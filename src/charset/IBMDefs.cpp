#include "charset/IBMDefs.h"

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace kestrel {

namespace {

std::mutex programPathMutex;
std::string givenProgramPath;

struct TProgramFile {
  std::string Dir;
  std::string Name;
};

// The running program's own file; argv[0] where the system does not tell; "./kestrel" last.
std::filesystem::path LocateProgram() {
  std::error_code error;
  std::filesystem::path own = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error && !own.empty()) return own;
  std::lock_guard lock(programPathMutex);
  std::filesystem::path given = givenProgramPath.empty() ? "kestrel" : givenProgramPath;
  std::filesystem::path absolute = std::filesystem::absolute(given, error);
  return error ? given : absolute;
}

const TProgramFile& ProgramFile() {
  static const TProgramFile file = [] {
    std::filesystem::path path = LocateProgram();
    TProgramFile result;
    std::string dir = path.parent_path().string();
    if (dir.empty()) dir = ".";
    if (dir.back() != '/') dir += '/';
    result.Dir = dir;
    result.Name = StripExtension(path.filename().string());
    return result;
  }();
  return file;
}

}  // namespace

const std::string& ProgramDir() {
  return ProgramFile().Dir;
}
const std::string& ProgramName() {
  return ProgramFile().Name;
}

void SetProgramPath(const std::string& path) {
  std::lock_guard lock(programPathMutex);
  givenProgramPath = path;
}

std::string StripExtension(std::string_view name) {
  return std::string(name.substr(0, name.find('.')));
}

std::string PadLeft(std::string_view text, size_t n) {
  if (text.size() >= n) return std::string(text.substr(0, n));
  return std::string(n - text.size(), ' ') + std::string(text);
}

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

bool TLineReader::Next(std::string& line, size_t keep) {
  line.clear();
  length_ = 0;
  std::streambuf* buffer = in_.rdbuf();
  if (buffer == nullptr || !in_.good()) return false;
  using Traits = std::char_traits<char>;
  Traits::int_type c = buffer->sbumpc();
  if (Traits::eq_int_type(c, Traits::eof())) {
    in_.setstate(std::ios::eofbit);
    return false;
  }
  while (!Traits::eq_int_type(c, Traits::eof())) {
    char ch = Traits::to_char_type(c);
    if (ch == '\n') return true;
    if (ch == '\r') {
      if (Traits::eq_int_type(buffer->sgetc(), Traits::to_int_type('\n'))) buffer->sbumpc();
      return true;
    }
    if (length_ < keep) line += ch;
    ++length_;
    c = buffer->sbumpc();
  }
  in_.setstate(std::ios::eofbit);
  return true;
}

}  // namespace kestrel
