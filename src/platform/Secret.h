// A password, or a token made from one, in a buffer of its own: never copied implicitly,
// wiped (explicit_bzero) when replaced, wiped or destroyed, and kept out of swap when the
// system allows it (mlock, best effort). While any TSecret holds a buffer the process is
// not dumpable (no core file, no ptrace by the user's other processes); the previous
// state comes back when the last one lets go. One thread per object; the process-wide
// count is thread-safe. Nothing here throws except std::bad_alloc.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace jumelix {

class TSecret {
 public:
  TSecret() = default;
  explicit TSecret(std::string_view value) { Assign(value); }
  ~TSecret() { Wipe(); }
  TSecret(const TSecret&) = delete;
  TSecret& operator=(const TSecret&) = delete;
  TSecret(TSecret&& other) noexcept;
  TSecret& operator=(TSecret&& other) noexcept;
  TSecret& operator=(std::string_view value) {
    Assign(value);
    return *this;
  }

  void Assign(std::string_view value);
  void Append(std::string_view value);
  void Append(char c) { Append(std::string_view(&c, 1)); }
  // Overwrites the bytes, frees the buffer and lets the process be dumpable again when no
  // other secret is held.
  void Wipe();

  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  std::string_view View() const { return {data_ != nullptr ? data_ : "", size_}; }
  // A plain copy for a caller that needs one (a window field); wipe it with EffacerTexte.
  std::string Copie() const { return std::string(View()); }

  friend bool operator==(const TSecret& a, std::string_view b) { return a.View() == b; }
  friend bool operator==(const TSecret& a, const TSecret& b) { return a.View() == b.View(); }

 private:
  void Reserve(size_t capacity);

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Overwrites n bytes in a way the compiler may not remove.
void EffacerOctets(void* p, size_t n);
// Overwrites the characters of s, then empties it.
void EffacerTexte(std::string& s);
// Whether the process may be dumped at present (PR_GET_DUMPABLE).
bool ProcessusCopiable();

}  // namespace jumelix
