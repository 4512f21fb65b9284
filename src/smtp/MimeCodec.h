// Encodings of the SMTP client: Base64, quoted-printable, encoded header words, folding of
// header and text lines, content types by file name, hexadecimal. Pure functions over
// 8-bit strings (positions are 1-based, as the callers count them). Only EncodeHeaderWords
// throws (std::invalid_argument, for a bad character set name or encoding letter). The
// digests of the authentication are in Empreintes.h.
#pragma once

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

}  // namespace jumelix
