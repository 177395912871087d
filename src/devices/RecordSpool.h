// A list of text records (cards, print lines) that may grow without bound: the records are kept
// in a file, one per line followed by CR LF, and only the newest ones stay in memory.  Any record
// can still be read; an older one is read back from the file a chunk at a time.
//
// A spool kept in a named file (the print file) writes its records as they come, at least every
// quarter of a second, so the file holds what was printed at any moment.  Any other spool starts
// a temporary file only once it holds more records than it keeps in memory.  When the file cannot
// be written the spool keeps every record in memory from then on, as a plain list would, and
// says so once (`TakeError`).  Records hold no line end: cards and print lines never do.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace kestrel {

class TRecordSpool {
 public:
  static constexpr size_t DefaultMemoryRecords = 2048;
  static constexpr size_t ChunkRecords = 1024;   // one offset kept per chunk of records
  static constexpr size_t WriteBytes = 1 << 16;  // a named file is written in blocks this size
  static constexpr std::chrono::milliseconds WriteInterval{250};  // ... or this often

  explicit TRecordSpool(size_t memoryRecords = DefaultMemoryRecords);
  ~TRecordSpool();
  TRecordSpool(const TRecordSpool&) = delete;
  TRecordSpool& operator=(const TRecordSpool&) = delete;

  // ---- The list ----
  size_t size() const { return count_ - first_; }
  bool empty() const { return count_ == first_; }
  // The record at a 0-based index; the reference holds until the spool next changes or reads.
  const std::string& operator[](size_t index) const;
  const std::string& front() const { return (*this)[0]; }
  const std::string& back() const { return (*this)[size() - 1]; }
  void push_back(std::string record);
  void AppendEmpty(size_t count);
  void pop_front();
  // Removes the last record and returns it.
  std::string TakeBack();
  void clear();

  // ---- The file ----
  // Keeps the records in `fileName` from now on (the file is replaced by what the spool holds).
  // A file that cannot be opened leaves the records in memory, with the error to take.
  void KeepInFile(const std::string& fileName);
  const std::string& FileName() const { return fileName_; }
  // Writes the records to a file, one per line followed by CR LF, replacing it.  The spool's own
  // file is brought up to date instead.  Throws EKestrelError when it cannot be written.
  void Save(const std::string& fileName);
  // Writes what a named file lacks when it is due (or at once with `now`).
  void Flush(bool now = false);
  // The first write error not yet taken, once; empty when there is none.
  std::string TakeError();
  // Whether records are kept in memory because the file failed.
  bool Failed() const { return failed_; }
  // Records held in memory (for the tests of the bound).
  size_t MemoryCount() const { return tail_.size(); }

  friend bool operator==(const TRecordSpool& spool, const std::deque<std::string>& list);

 private:
  void Added(size_t bytes);
  void WriteOut();
  void Fail(const std::string& what);
  void Trim();
  bool OpenTemporary();
  void Truncate(uint64_t bytes);
  // The records of chunk `chunk` from the file (those written).
  const std::vector<std::string>& Chunk(size_t chunk) const;
  uint64_t OffsetOf(size_t record) const;
  void CopyFileBytes(uint64_t from, std::FILE* to, const std::string& toName) const;

  const size_t memoryRecords_;
  // Records are numbered from the first ever kept (or since the last clear); those before
  // first_ were taken from the front.
  size_t first_ = 0;
  size_t count_ = 0;
  size_t onDisk_ = 0;             // records 0 .. onDisk_-1 are in the file
  uint64_t written_ = 0;          // their bytes
  uint64_t appended_ = 0;         // the bytes of all records, written or not
  size_t unwritten_ = 0;          // bytes not yet written
  std::deque<std::string> tail_;  // records tailStart_ .. count_-1
  size_t tailStart_ = 0;
  std::vector<uint64_t> chunkStart_;  // file offset of record k * ChunkRecords

  std::FILE* file_ = nullptr;
  std::string fileName_;  // empty for a temporary file
  bool failed_ = false;
  bool reported_ = false;  // a failure is told once
  std::string error_;
  std::chrono::steady_clock::time_point lastWrite_{};
  std::string buffer_;

  mutable size_t cachedChunk_ = SIZE_MAX;
  mutable std::vector<std::string> cache_;
  mutable std::string readBuffer_;
};

}  // namespace kestrel
