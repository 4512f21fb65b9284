#include "net/SendBuffer.h"

#include <algorithm>
#include <cstring>

#include "platform/Secret.h"

namespace jumelix {

TBuffer::TBuffer(int capacity) { SetBufSize(capacity); }

int TBuffer::Write(const void* data, int len) {
  if (data == nullptr || len <= 0) return 0;
  int room = BufSize() - wr_count_;
  int n = std::min(room, len);
  if (n <= 0) return 0;
  std::memcpy(data_.data() + wr_count_, data, static_cast<size_t>(n));
  wr_count_ += n;
  return n;
}

const char* TBuffer::Peek(int& len) const {
  len = wr_count_ - rd_count_;
  if (len <= 0) {
    len = 0;
    return nullptr;
  }
  return data_.data() + rd_count_;
}

TBuffer::~TBuffer() { EffacerOctets(data_.data(), data_.size()); }

int TBuffer::Remove(int len) {
  if (len <= 0) return 0;
  int n = std::min(len, wr_count_ - rd_count_);
  // Sent bytes may be a password on its way (AUTH): none stays behind in the queue.
  EffacerOctets(data_.data() + rd_count_, static_cast<size_t>(n));
  rd_count_ += n;
  if (rd_count_ >= wr_count_) {
    rd_count_ = 0;
    wr_count_ = 0;
  }
  return n;
}

void TBuffer::SetBufSize(int capacity) {
  if (capacity <= 0) capacity = kDefaultSize;
  data_.resize(static_cast<size_t>(capacity));
  // Shrinking below what is stored keeps only what fits.
  wr_count_ = std::min(wr_count_, capacity);
  rd_count_ = std::min(rd_count_, wr_count_);
}

}  // namespace jumelix
