#include "devices/RecordSpool.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/KestDefs.h"

namespace kestrel {

namespace {
const std::string NoRecord;

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

std::string CannotWrite(const std::string& name) {
  return "Cannot write file:-\r" + name;
}
}  // namespace

TRecordSpool::TRecordSpool(size_t memoryRecords)
    : memoryRecords_(std::max<size_t>(memoryRecords, 1)) {}

TRecordSpool::~TRecordSpool() {
  if (file_ == nullptr) return;
  Flush(true);
  std::fclose(file_);
}

// ---- The list -------------------------------------------------------------------------------

const std::string& TRecordSpool::operator[](size_t index) const {
  size_t record = first_ + index;
  if (record >= count_) return NoRecord;
  if (record >= tailStart_) return tail_[record - tailStart_];
  const size_t chunk = record / ChunkRecords;
  const size_t within = record - chunk * ChunkRecords;
  if (cachedChunk_ == chunk && within >= cache_.size()) cachedChunk_ = SIZE_MAX;  // written since
  const std::vector<std::string>& records = Chunk(chunk);
  return within < records.size() ? records[within] : NoRecord;
}

void TRecordSpool::push_back(std::string record) {
  const size_t bytes = record.size() + 2;
  tail_.push_back(std::move(record));
  if (count_ % ChunkRecords == 0) chunkStart_.push_back(appended_);
  ++count_;
  Added(bytes);
}

void TRecordSpool::AppendEmpty(size_t count) {
  for (size_t i = 0; i < count; ++i)
    push_back(std::string());
}

void TRecordSpool::Added(size_t bytes) {
  appended_ += bytes;
  unwritten_ += bytes;
  if (failed_) return;
  if (count_ - onDisk_ > memoryRecords_ || (!fileName_.empty() && unwritten_ >= WriteBytes)) {
    WriteOut();
  } else {
    Flush();
  }
}

void TRecordSpool::pop_front() {
  if (empty()) return;
  if (++first_ == count_) {
    clear();  // the file starts again from nothing
    return;
  }
  Trim();
}

std::string TRecordSpool::TakeBack() {
  if (empty()) return {};
  const size_t record = count_ - 1;
  std::string taken;
  if (tail_.empty()) {
    taken = (*this)[record - first_];
  } else {
    taken = std::move(tail_.back());
    tail_.pop_back();
  }
  count_ = record;
  tailStart_ = std::min(tailStart_, count_);
  const size_t bytes = taken.size() + 2;
  appended_ -= bytes;
  if (record < onDisk_) {
    onDisk_ = record;
    written_ -= bytes;
    Truncate(written_);
  } else {
    unwritten_ -= bytes;
  }
  if (record % ChunkRecords == 0) chunkStart_.pop_back();
  if (cachedChunk_ == record / ChunkRecords) cachedChunk_ = SIZE_MAX;
  if (count_ == first_) clear();
  return taken;
}

void TRecordSpool::clear() {
  tail_.clear();
  first_ = count_ = onDisk_ = tailStart_ = 0;
  written_ = appended_ = 0;
  unwritten_ = 0;
  chunkStart_.clear();
  cachedChunk_ = SIZE_MAX;
  cache_.clear();
  if (file_ != nullptr) Truncate(0);
  // A file that failed gets another chance; a named one that never opened is tried again.
  failed_ = false;
  if (!fileName_.empty() && file_ == nullptr) {
    file_ = std::fopen(fileName_.c_str(), "w+b");
    if (file_ == nullptr) Fail(std::strerror(errno));
  }
}

void TRecordSpool::Trim() {
  while (!tail_.empty() && tailStart_ < onDisk_ &&
         (tail_.size() > memoryRecords_ || tailStart_ < first_)) {
    tail_.pop_front();
    ++tailStart_;
  }
}

// ---- The file -------------------------------------------------------------------------------

void TRecordSpool::KeepInFile(const std::string& fileName) {
  std::FILE* file = std::fopen(fileName.c_str(), "w+b");
  if (file == nullptr) {
    int error = errno;
    fileName_ = fileName;
    Fail(std::strerror(error));
    return;
  }
  if (file_ != nullptr) {
    // What a temporary file holds moves to the new one.
    if (written_ > 0) {
      try {
        CopyFileBytes(0, file, fileName);
      } catch (const EKestrelError&) {
        std::fclose(file);
        fileName_ = fileName;
        Fail(std::strerror(errno));
        return;
      }
    }
    std::fclose(file_);
  }
  file_ = file;
  fileName_ = fileName;
  failed_ = false;
  WriteOut();
}

void TRecordSpool::Flush(bool now) {
  if (failed_ || fileName_.empty() || unwritten_ == 0) return;
  if (now || std::chrono::steady_clock::now() - lastWrite_ >= WriteInterval) WriteOut();
}

std::string TRecordSpool::TakeError() {
  std::string error;
  error.swap(error_);
  return error;
}

void TRecordSpool::WriteOut() {
  if (failed_ || onDisk_ == count_) return;
  if (file_ == nullptr && !OpenTemporary()) return;
  buffer_.clear();
  for (size_t record = onDisk_; record < count_; ++record) {
    buffer_ += tail_[record - tailStart_];
    buffer_ += "\r\n";
  }
  errno = 0;
  bool good = std::fseek(file_, static_cast<long>(written_), SEEK_SET) == 0 &&
              std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
  good = std::fflush(file_) == 0 && good;
  if (!good) {
    Fail(errno != 0 ? std::strerror(errno) : "write error");
    return;
  }
  written_ += buffer_.size();
  onDisk_ = count_;
  unwritten_ = 0;
  lastWrite_ = std::chrono::steady_clock::now();
  Trim();
}

void TRecordSpool::Fail(const std::string& what) {
  failed_ = true;
  if (file_ != nullptr) std::clearerr(file_);
  if (!reported_) {
    reported_ = true;
    error_ = CannotWrite(fileName_.empty() ? std::string("(a temporary file)") : fileName_) + "\r" +
             what;
  }
}

bool TRecordSpool::OpenTemporary() {
  file_ = std::tmpfile();
  if (file_ == nullptr) Fail(std::strerror(errno));
  return file_ != nullptr;
}

void TRecordSpool::Truncate(uint64_t bytes) {
  std::fflush(file_);
  // Only a tidy file is lost when this fails: the spool reads no further than it wrote.
  if (::ftruncate(fileno(file_), static_cast<off_t>(bytes)) != 0) std::clearerr(file_);
}

const std::vector<std::string>& TRecordSpool::Chunk(size_t chunk) const {
  if (cachedChunk_ == chunk) return cache_;
  cache_.clear();
  cachedChunk_ = chunk;
  const size_t firstRecord = chunk * ChunkRecords;
  if (file_ == nullptr || chunk >= chunkStart_.size() || firstRecord >= onDisk_) return cache_;
  const uint64_t start = chunkStart_[chunk];
  const uint64_t end = chunk + 1 < chunkStart_.size() && onDisk_ >= firstRecord + ChunkRecords
                           ? chunkStart_[chunk + 1]
                           : written_;
  readBuffer_.resize(static_cast<size_t>(end - start));
  if (std::fseek(file_, static_cast<long>(start), SEEK_SET) != 0 ||
      std::fread(readBuffer_.data(), 1, readBuffer_.size(), file_) != readBuffer_.size()) {
    std::clearerr(file_);
    cachedChunk_ = SIZE_MAX;  // try again next time; meanwhile the records read as empty
    return cache_;
  }
  const size_t wanted = std::min(ChunkRecords, onDisk_ - firstRecord);
  size_t from = 0;
  while (cache_.size() < wanted && from < readBuffer_.size()) {
    size_t end_of_line = readBuffer_.find("\r\n", from);
    if (end_of_line == std::string::npos) end_of_line = readBuffer_.size();
    cache_.emplace_back(readBuffer_, from, end_of_line - from);
    from = end_of_line + 2;
  }
  return cache_;
}

uint64_t TRecordSpool::OffsetOf(size_t record) const {
  const size_t chunk = record / ChunkRecords;
  uint64_t offset = chunkStart_[chunk];
  const std::vector<std::string>& records = Chunk(chunk);
  for (size_t i = 0; i < record - chunk * ChunkRecords && i < records.size(); ++i)
    offset += records[i].size() + 2;
  return offset;
}

void TRecordSpool::CopyFileBytes(uint64_t from, std::FILE* to, const std::string& toName) const {
  constexpr size_t Block = 1 << 20;
  std::vector<char> block(Block);
  if (std::fseek(file_, static_cast<long>(from), SEEK_SET) != 0)
    throw EKestrelError(CannotWrite(toName));
  for (uint64_t left = written_ - from; left > 0;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, Block));
    if (std::fread(block.data(), 1, n, file_) != n || std::fwrite(block.data(), 1, n, to) != n) {
      std::clearerr(file_);
      throw EKestrelError(CannotWrite(toName));
    }
    left -= n;
  }
}

void TRecordSpool::Save(const std::string& fileName) {
  if (!fileName_.empty() && file_ != nullptr && SameFile(fileName, fileName_)) {
    // The file is the spool: only what it lacks is written (a failed file gets another try).
    failed_ = false;
    WriteOut();
    if (failed_) throw EKestrelError(CannotWrite(fileName));
    Truncate(written_);
    return;
  }
  std::FILE* out = std::fopen(fileName.c_str(), "wb");
  if (out == nullptr) throw EKestrelError(CannotWrite(fileName));
  bool good = true;
  try {
    if (first_ < onDisk_) CopyFileBytes(OffsetOf(first_), out, fileName);
  } catch (const EKestrelError&) {
    good = false;
  }
  for (size_t record = std::max(first_, onDisk_); good && record < count_; ++record) {
    const std::string& text = tail_[record - tailStart_];
    good = std::fwrite(text.data(), 1, text.size(), out) == text.size() &&
           std::fwrite("\r\n", 1, 2, out) == 2;
  }
  good = std::fclose(out) == 0 && good;
  if (!good) throw EKestrelError(CannotWrite(fileName));
}

bool operator==(const TRecordSpool& spool, const std::deque<std::string>& list) {
  if (spool.size() != list.size()) return false;
  for (size_t i = 0; i < list.size(); ++i) {
    if (spool[i] != list[i]) return false;
  }
  return true;
}

}  // namespace kestrel
