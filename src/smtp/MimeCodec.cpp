#include "smtp/MimeCodec.h"

#include <algorithm>
#include <stdexcept>

#include "shared/URoutines.h"

namespace jumelix {
namespace {

constexpr char kBase64Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexUpper[] = "0123456789ABCDEF";
constexpr char kHexLower[] = "0123456789abcdef";

// Decoding table: alphabet characters give 0..63, "=" gives 64, everything else 255.
struct DecodeTable {
  uint8_t v[128];
  constexpr DecodeTable() : v() {
    for (auto& x : v) x = 255;
    for (int i = 0; i < 64; ++i) v[static_cast<unsigned char>(kBase64Chars[i])] = i;
    v[static_cast<unsigned char>('=')] = 64;
  }
};
constexpr DecodeTable kDecode;

uint8_t DecodeChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u < 128 ? kDecode.v[u] : 255;
}

// Encodes 1 to 3 bytes as four characters, with the standard padding.
void EncodeGroup(const unsigned char* b, size_t n, std::string& out) {
  uint32_t v = static_cast<uint32_t>(b[0]) << 16;
  if (n > 1) v |= static_cast<uint32_t>(b[1]) << 8;
  if (n > 2) v |= b[2];
  out += kBase64Chars[(v >> 18) & 63];
  out += kBase64Chars[(v >> 12) & 63];
  out += n > 1 ? kBase64Chars[(v >> 6) & 63] : '=';
  out += n > 2 ? kBase64Chars[v & 63] : '=';
}

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

bool Contains(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }

}  // namespace

std::string ToBase64(std::string_view text) {
  std::string out;
  out.reserve((text.size() + 2) / 3 * 4);
  const unsigned char* b = Bytes(text);
  for (size_t i = 0; i < text.size(); i += 3)
    EncodeGroup(b + i, std::min<size_t>(3, text.size() - i), out);
  return out;
}

void ToBase64Line(std::string_view text, size_t line_limit, size_t& pos, std::string& out) {
  if (pos == 0) pos = 1;
  const unsigned char* b = Bytes(text);
  while (pos <= text.size() && out.size() < line_limit) {
    size_t i = pos - 1;
    EncodeGroup(b + i, std::min<size_t>(3, text.size() - i), out);
    pos += 3;
  }
}

void ToBase64FromStream(std::istream& in, std::string& line, bool& more) {
  line.clear();
  more = false;
  for (int group = 0; group < 18; ++group) {
    unsigned char b[3];
    in.read(reinterpret_cast<char*>(b), 3);
    size_t n = static_cast<size_t>(in.gcount());
    if (n == 0) {
      more = false;
      break;
    }
    EncodeGroup(b, n, line);
    more = n == 3;
    if (!more) break;
  }
}

std::string FromBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i + 1 < text.size(); i += 4) {
    // Missing characters of a final short group count as padding.
    char c3 = i + 2 < text.size() ? text[i + 2] : '=';
    char c4 = i + 3 < text.size() ? text[i + 3] : '=';
    uint8_t v1 = DecodeChar(text[i]) & 63;
    uint8_t v2 = DecodeChar(text[i + 1]) & 63;
    uint8_t v3 = DecodeChar(c3) & 63;
    uint8_t v4 = DecodeChar(c4) & 63;
    out += static_cast<char>((v1 << 2) | (v2 >> 4));
    if (c3 != '=') {
      out += static_cast<char>(((v2 & 15) << 4) | (v3 >> 2));
      if (c4 != '=') out += static_cast<char>(((v3 & 3) << 6) | v4);
    }
  }
  return out;
}

std::string ToQuotedPrintablePiece(std::string_view text, size_t limit, std::string_view specials,
                                   bool limit_on, size_t& pos, bool space_as_underscore) {
  std::string piece;
  if (pos == 0) pos = 1;
  // Without a limit the piece takes the rest of the text: a limit equal to the text's
  // length would cut a text full of escapes before its end and never advance.
  const long long lim = limit_on ? static_cast<long long>(limit) : -1;
  while (pos <= text.size()) {
    unsigned char c = static_cast<unsigned char>(text[pos - 1]);
    const long long len = static_cast<long long>(piece.size());
    bool plain = c >= 32 && c <= 126 && c != '=' && !Contains(specials, static_cast<char>(c));
    bool underscore = !plain && c == ' ' && space_as_underscore && Contains(specials, ' ');
    if (plain || underscore) {
      if (lim >= 0 && len >= lim - 1 && !piece.empty()) {
        piece += '=';
        return piece;
      }
      piece += underscore ? '_' : static_cast<char>(c);
    } else {
      if (lim >= 0 && len >= lim - 3 && !piece.empty()) {
        piece += '=';
        return piece;
      }
      piece += '=';
      piece += kHexUpper[c >> 4];
      piece += kHexUpper[c & 15];
    }
    ++pos;
  }
  return piece;
}

bool HasNonPrintableBytes(std::string_view text) {
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c != '\t' && c != '\n' && c != '\r' && (c < 32 || c > 126)) return true;
  }
  return false;
}

std::string EncodeHeaderWords(std::string_view text, std::string_view specials, char enc_type,
                              bool fold, int column_limit, std::string_view charset) {
  std::string result;
  if (fold && column_limit < 25) column_limit = 25;
  if (charset.size() < 4) {
    throw std::invalid_argument("Function 'EncodeHeaderWords', invalid CharSet: " +
                                std::string(charset));
  }
  if (enc_type != 'B' && enc_type != 'Q') {
    throw std::invalid_argument("Function 'EncodeHeaderWords', invalid EncType: " +
                                std::string(1, enc_type));
  }
  const std::string prefix = "=?" + MinusculesAscii(charset) + "?" + enc_type + "?";
  if (enc_type == 'Q') {
    std::string sp(specials);
    sp += " =?_";
    long long lim =
        static_cast<long long>(column_limit) - static_cast<long long>(prefix.size()) - 2;
    if (lim < 4) lim = 4;  // one escape per word at least, so the words always advance
    size_t pos = 1;
    while (pos <= text.size()) {
      std::string piece =
          ToQuotedPrintablePiece(text, static_cast<size_t>(lim), sp, fold, pos, true);
      if (!piece.empty() && piece.back() == '=') piece.pop_back();
      if (piece.empty()) continue;
      if (!result.empty()) result += "\r\n\t";
      result += prefix + piece + "?=";
    }
    return result;
  }
  result = prefix;
  int count = static_cast<int>(prefix.size()) + 2;
  const unsigned char* b = Bytes(text);
  for (size_t i = 0; i < text.size(); i += 3) {
    if (fold && column_limit < count + 4) {
      result += "?=\r\n\t" + prefix;
      count = static_cast<int>(prefix.size()) + 2;
    }
    EncodeGroup(b + i, std::min<size_t>(3, text.size() - i), result);
    count += 4;
  }
  result += "?=";
  return result;
}

void NextFoldSegment(std::string_view text, std::string_view break_str, std::string_view break_set,
                     std::string& piece, size_t& pos, std::string_view quote_set,
                     int column_limit) {
  piece.clear();
  if (pos == 0) pos = 1;
  if (pos > text.size()) {
    pos = kFoldEnd;
    return;
  }
  const size_t start = pos - 1;
  size_t last_break = std::string_view::npos;
  char quote = 0;
  int columns = 0;
  auto next = [&](size_t after) { pos = after >= text.size() ? kFoldEnd : after + 1; };
  for (size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    if (quote == 0 && !break_str.empty() && c == break_str[0] &&
        EgauxSansCasseAscii(text.substr(i, break_str.size()), break_str)) {
      piece.assign(text.substr(start, i - start));
      next(i + break_str.size());
      return;
    }
    if (quote == 0 && Contains(break_set, c)) {
      last_break = i;
    } else if (Contains(quote_set, c)) {
      if (quote == 0) {
        quote = c;
      } else if (quote == c) {
        quote = 0;
      }
    }
    // One column per character: UTF-8 continuation bytes add none.
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++columns;
    if (quote == 0 && columns >= column_limit && last_break != std::string_view::npos &&
        last_break > start) {
      piece.assign(text.substr(start, last_break - start + 1));
      next(last_break + 1);
      return;
    }
  }
  piece.assign(text.substr(start));
  pos = kFoldEnd;
}

void FoldHeaderLine(std::vector<std::string>& lines, std::string_view header_line) {
  size_t pos = 1;
  std::string piece;
  bool first = true;
  do {
    NextFoldSegment(header_line, "\r\n\t", kHeaderBreakChars, piece, pos, "", 76);
    // Appended, not "\t" + ...: GCC 12 sees a false overlap (-Wrestrict) in the insertion.
    std::string line = first ? std::string() : std::string(1, '\t');
    line += Trim(piece);
    lines.push_back(std::move(line));
    first = false;
  } while (pos != kFoldEnd);
}

std::string FoldTextLine(std::string_view text, std::string_view break_set, int column_limit) {
  std::string out;
  size_t pos = 1;
  std::string piece;
  bool first = true;
  do {
    NextFoldSegment(text, "\r\n\t", break_set, piece, pos, "", column_limit);
    if (!first) out += "\r\n\t";
    out += Trim(piece);
    first = false;
  } while (pos != kFoldEnd);
  return out;
}

std::string ContentTypeFromFileName(std::string_view file_name) {
  size_t slash = file_name.find_last_of('/');
  std::string_view base = slash == std::string_view::npos ? file_name : file_name.substr(slash + 1);
  size_t dot = base.rfind('.');
  std::string ext = dot == std::string_view::npos ? "" : MinusculesAscii(base.substr(dot + 1));
  if (ext == "htm" || ext == "html") return "text/html";
  if (ext == "gif") return "image/gif";
  if (ext == "bmp") return "image/bmp";
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "txt") return "text/plain";
  return "application/octet-stream";
}

std::string ToHexLower(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    out += kHexLower[c >> 4];
    out += kHexLower[c & 15];
  }
  return out;
}

}  // namespace jumelix
