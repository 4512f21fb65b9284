// Encodings and digests of the SMTP client: Base64, quoted-printable, encoded header words,
// folding of header and text lines, content types by file name, MD5, SHA-1 and their HMACs.
// Pure functions over 8-bit strings (positions are 1-based, as the callers count them);
// the digest contexts are plain values owned by their caller. Only EncodeHeaderWords
// throws (std::invalid_argument, for a bad character set name or encoding letter).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace jumelix {

// Position given back by the folding routine once the whole text has been consumed.
inline constexpr size_t kFoldEnd = std::numeric_limits<size_t>::max();

// Base64 of every byte of `text`, padded with "=", without line breaks.
std::string ToBase64(std::string_view text);

// Appends to `out` groups of four Base64 characters taken from `pos` (1-based) onwards,
// while `pos` is inside the text and `out` is shorter than `line_limit` before the group
// is added; `pos` advances by 3 per group. With a limit of 76 a line holds 19 groups.
void ToBase64Line(std::string_view text, size_t line_limit, size_t& pos, std::string& out);

// One Base64 line of at most 72 characters (18 groups) from the next bytes of `in`.
// `more` is true only when the last read filled a whole group of three bytes.
void ToBase64FromStream(std::istream& in, std::string& line, bool& more);

// Decodes four characters at a time; nothing is skipped, so the text must hold no blanks
// or line breaks. Characters outside the alphabet count as 63. A final incomplete group
// gives the bytes its characters allow (two characters one byte, three characters two).
std::string FromBase64(std::string_view text);

// One quoted-printable piece of `text` from `pos` (1-based). Printable bytes other than
// "=" and the `specials` are copied, others escaped as "=XX"; when the next item would
// not fit under `limit` the piece ends with a soft break "=". With `limit_on` false the
// piece runs to the end of the text. A space found in `specials` becomes "_" when
// `space_as_underscore` is set. A piece always advances by at least one byte.
std::string ToQuotedPrintablePiece(std::string_view text, size_t limit, std::string_view specials,
                                   bool limit_on, size_t& pos, bool space_as_underscore);

// True when a byte lies outside tab, LF, CR and 32..126.
bool HasNonPrintableBytes(std::string_view text);

// RFC 2047 encoded words of `text` in `charset` with the letter "B" or "Q"; with `fold`
// the words are kept within `column_limit` (at least 25) and joined by CR LF TAB.
// Throws std::invalid_argument for a charset name shorter than 4 characters or a letter
// other than B and Q.
std::string EncodeHeaderWords(std::string_view text, std::string_view specials, char enc_type,
                              bool fold, int column_limit, std::string_view charset);

// The next piece of a folded line starting at `pos` (1-based): it ends after the last
// break character once `column_limit` columns are reached, or at an occurrence of
// `break_str` (case-insensitive, removed from the piece). At the end of the text `pos`
// becomes kFoldEnd. A piece is longer than the limit when no break character occurs.
void NextFoldSegment(std::string_view text, std::string_view break_str, std::string_view break_set,
                     std::string& piece, size_t& pos, std::string_view quote_set, int column_limit);

// Break characters of header lines and of message text lines.
inline constexpr std::string_view kHeaderBreakChars = "\t ,;>]";
inline constexpr std::string_view kTextBreakChars = "\t ,-.";

// Folds a header line at 76 columns: the first piece trimmed, each further piece as a TAB
// followed by the trimmed piece, appended to `lines`.
void FoldHeaderLine(std::vector<std::string>& lines, std::string_view header_line);

// The trimmed pieces of `text` joined with CR LF TAB.
std::string FoldTextLine(std::string_view text, std::string_view break_set, int column_limit);

// Content type from the extension of `file_name` (letter case ignored).
std::string ContentTypeFromFileName(std::string_view file_name);

// Lowercase hexadecimal of the bytes.
std::string ToHexLower(std::string_view bytes);

// MD5 (RFC 1321). Add may be called any number of times between Start and Finish.
class TMd5Context {
 public:
  TMd5Context() { Start(); }
  void Start();
  void Add(const void* data, size_t len);
  void Add(std::string_view data) { Add(data.data(), data.size()); }
  std::array<uint8_t, 16> Finish();

 private:
  void Transform(const uint8_t* block);
  uint32_t state_[4];
  uint64_t count_ = 0;  // bytes added
  uint8_t buffer_[64];
};

std::array<uint8_t, 16> Md5(std::string_view data);

// SHA-1 (FIPS 180-1) with status results.
inline constexpr int kShaSuccess = 0;
inline constexpr int kShaNull = 1;        // missing argument, or message too long
inline constexpr int kShaStateError = 3;  // bytes added after the digest was finished

class TSha1Context {
 public:
  TSha1Context() { Reset(); }
  int Reset();
  // Adds `len` bytes; a null `data` with a non-zero length is a missing argument.
  int Input(const void* data, size_t len);
  int Input(std::string_view data) { return Input(data.data(), data.size()); }
  // Writes the 20-byte digest; finishing again gives the same digest.
  int Result(uint8_t* digest);

 private:
  void ProcessBlock();
  void PadMessage();
  uint32_t h_[5];
  uint64_t length_bits_ = 0;
  uint8_t block_[64];
  size_t block_index_ = 0;
  bool computed_ = false;
  int corrupted_ = kShaSuccess;
};

std::array<uint8_t, 20> Sha1(std::string_view data);

// HMAC (RFC 2104, 64-byte blocks; keys longer than 64 bytes are hashed first).
std::array<uint8_t, 20> HmacSha1(std::string_view key, std::string_view message);
std::array<uint8_t, 16> HmacMd5(std::string_view key, std::string_view message);

template <size_t N>
std::string DigestBytes(const std::array<uint8_t, N>& d) {
  return std::string(reinterpret_cast<const char*>(d.data()), N);
}

}  // namespace jumelix
