#include "platform/Secret.h"

#include <sys/mman.h>
#include <sys/prctl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

namespace jumelix {
namespace {

std::mutex g_mutex;
int g_detenus = 0;    // buffers held by TSecret objects
int g_precedent = 1;  // the dumpable state before the first one

void Detenir() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_detenus++ == 0) {
    const int etat = prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
    g_precedent = etat < 0 ? 1 : etat;
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  }
}

void Lacher() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_detenus > 0 && --g_detenus == 0) prctl(PR_SET_DUMPABLE, g_precedent, 0, 0, 0);
}

}  // namespace

void EffacerOctets(void* p, size_t n) {
  if (p != nullptr && n > 0) explicit_bzero(p, n);
}

void EffacerTexte(std::string& s) {
  EffacerOctets(s.data(), s.size());
  s.clear();
}

bool ProcessusCopiable() { return prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 1; }

TSecret::TSecret(TSecret&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

TSecret& TSecret::operator=(TSecret&& other) noexcept {
  if (this != &other) {
    Wipe();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

void TSecret::Reserve(size_t capacity) {
  if (capacity <= capacity_) return;
  capacity = std::max<size_t>(capacity, 64);
  char* nouveau = new char[capacity];
  const bool premier = data_ == nullptr;
  mlock(nouveau, capacity);  // best effort: a refusal (RLIMIT_MEMLOCK) changes nothing else
  if (!premier) {
    std::memcpy(nouveau, data_, size_);
    EffacerOctets(data_, capacity_);
    munlock(data_, capacity_);
    delete[] data_;
  }
  data_ = nouveau;
  capacity_ = capacity;
  if (premier) Detenir();
}

void TSecret::Assign(std::string_view value) {
  if (data_ != nullptr) EffacerOctets(data_, size_);
  size_ = 0;
  Append(value);
}

void TSecret::Append(std::string_view value) {
  if (value.empty()) return;
  // A caller may append a view of this very buffer: copy before any reallocation.
  if (data_ != nullptr && value.data() >= data_ && value.data() < data_ + capacity_) {
    TSecret copie(value);
    Append(copie.View());
    return;
  }
  if (size_ + value.size() > capacity_) Reserve(std::max(capacity_ * 2, size_ + value.size()));
  std::memcpy(data_ + size_, value.data(), value.size());
  size_ += value.size();
}

void TSecret::Wipe() {
  if (data_ == nullptr) return;
  EffacerOctets(data_, capacity_);
  munlock(data_, capacity_);
  delete[] data_;
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
  Lacher();
}

}  // namespace jumelix
