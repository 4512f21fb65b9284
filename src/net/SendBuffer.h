// One chunk of a socket's send queue: a byte block of fixed capacity with a write count
// (bytes stored) and a read count (bytes already sent). Owns its storage; a chunk whose
// bytes have all been removed returns to empty and can be filled again. Single-threaded.
#pragma once

#include <cstddef>
#include <vector>

namespace jumelix {

class TBuffer {
 public:
  static constexpr int kDefaultSize = 1514;

  // A capacity of 0 or less means kDefaultSize.
  explicit TBuffer(int capacity);
  // Bytes are wiped when removed and with the chunk.
  ~TBuffer();
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  // Copies as many bytes as fit after the write count; returns the number copied.
  int Write(const void* data, int len);
  // The unsent range [ReadCount, WriteCount): its start, or nullptr (len 0) when empty.
  const char* Peek(int& len) const;
  // Marks up to `len` unsent bytes as sent; returns the amount. When nothing unsent is
  // left both counts return to 0.
  int Remove(int len);
  // Reallocates to `capacity` (0 or less: kDefaultSize), keeping what fits.
  void SetBufSize(int capacity);

  int BufSize() const { return static_cast<int>(data_.size()); }
  int WrCount() const { return wr_count_; }
  int RdCount() const { return rd_count_; }
  int DataLength() const { return wr_count_ - rd_count_; }
  bool Empty() const { return wr_count_ == rd_count_; }

 private:
  std::vector<char> data_;
  int wr_count_ = 0;
  int rd_count_ = 0;
};

}  // namespace jumelix
