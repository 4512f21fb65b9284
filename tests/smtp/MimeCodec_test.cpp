#include "smtp/MimeCodec.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "smtp/Empreintes.h"

namespace jumelix {
namespace {

std::string Hex(std::string_view bytes) { return ToHexLower(bytes); }
template <size_t N>
std::string Hex(const std::array<uint8_t, N>& d) {
  return ToHexLower(DigestBytes(d));
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

TEST(Base64, Rfc4648Vectors) {
  const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                       {"f", "Zg=="},
                                                       {"fo", "Zm8="},
                                                       {"foo", "Zm9v"},
                                                       {"foob", "Zm9vYg=="},
                                                       {"fooba", "Zm9vYmE="},
                                                       {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, coded] : cases) {
    EXPECT_EQ(ToBase64(plain), coded) << plain;
    EXPECT_EQ(FromBase64(coded), plain) << coded;
  }
}

TEST(Base64, RoundTripsEveryByteValue) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  for (size_t n = 0; n <= all.size(); n += 37) {
    std::string part = all.substr(0, n);
    EXPECT_EQ(FromBase64(ToBase64(part)), part);
  }
}

TEST(Base64, DecodingNeitherSkipsNorRejects) {
  // A character outside the alphabet counts as 63 (all six bits set).
  EXPECT_EQ(FromBase64("!!!!"), "\xff\xff\xff");
  EXPECT_EQ(FromBase64("\xc3\xa9//"), "\xff\xff\xff");
  // An incomplete final group gives what its characters allow.
  EXPECT_EQ(FromBase64("Zm9vYg"), "foob");
  EXPECT_EQ(FromBase64("Zm9vYmE"), "fooba");
  EXPECT_EQ(FromBase64("Z"), "");
}

TEST(Base64, LineEncodingStopsAtTheLimitAndAdvancesByGroups) {
  std::string text(100, 'x');
  size_t pos = 1;
  std::string line;
  ToBase64Line(text, 76, pos, line);
  EXPECT_EQ(line.size(), 76u);
  EXPECT_EQ(pos, 58u);
  std::string rest;
  ToBase64Line(text, 76, pos, rest);
  EXPECT_EQ(FromBase64(line + rest), text);
  EXPECT_GT(pos, text.size());
  std::string none;
  ToBase64Line(text, 76, pos, none);
  EXPECT_EQ(none, "");
}

TEST(Base64, StreamLinesHold72CharactersAndSayWhenMoreMayFollow) {
  std::string data;
  for (int i = 0; i < 200; ++i) data += static_cast<char>(i * 7);
  std::istringstream in(data);
  std::string line, all;
  bool more = true;
  std::vector<size_t> sizes;
  while (more) {
    ToBase64FromStream(in, line, more);
    sizes.push_back(line.size());
    all += line;
  }
  // 200 bytes = 54 + 54 + 54 + 38: three full lines, then 12 groups and a short one.
  EXPECT_EQ(sizes, (std::vector<size_t>{72, 72, 72, 52}));
  EXPECT_EQ(FromBase64(all), data);

  // An exact multiple of three leaves `more` set; the next call gives an empty last line.
  std::istringstream exact(std::string(54, 'a'));
  ToBase64FromStream(exact, line, more);
  EXPECT_EQ(line.size(), 72u);
  EXPECT_TRUE(more);
  ToBase64FromStream(exact, line, more);
  EXPECT_EQ(line, "");
  EXPECT_FALSE(more);
}

TEST(QuotedPrintable, EscapesAndSoftBreaks) {
  size_t pos = 1;
  EXPECT_EQ(ToQuotedPrintablePiece("a=b\xe9 c\t", 75, "", true, pos, false), "a=3Db=E9 c=09");
  EXPECT_EQ(pos, 8u);

  // Only two places left before the limit: the escape goes to the next piece.
  pos = 1;
  EXPECT_EQ(ToQuotedPrintablePiece("abcdefgh\xe9", 10, "", true, pos, false), "abcdefgh=");
  EXPECT_EQ(pos, 9u);
  EXPECT_EQ(ToQuotedPrintablePiece("abcdefgh\xe9", 10, "", true, pos, false), "=E9");

  // A plain byte needs one place besides the soft break.
  pos = 1;
  std::string piece = ToQuotedPrintablePiece(std::string(100, 'z'), 75, "", true, pos, false);
  EXPECT_EQ(piece, std::string(74, 'z') + "=");
  EXPECT_EQ(pos, 75u);

  // Specials are escaped; a special space may become an underscore.
  pos = 1;
  EXPECT_EQ(ToQuotedPrintablePiece("a b?", 75, " ?", true, pos, true), "a_b=3F");
  pos = 1;
  EXPECT_EQ(ToQuotedPrintablePiece("a b", 75, " ", true, pos, false), "a=20b");

  // Without a limit the rest of the text forms one piece, however many escapes it needs.
  pos = 1;
  EXPECT_EQ(ToQuotedPrintablePiece("\xe9\xe9\xe9", 1, "", false, pos, false), "=E9=E9=E9");
  EXPECT_EQ(ToQuotedPrintablePiece("abc", 75, "", true, pos, false), "");
}

TEST(QuotedPrintable, NonPrintableBytes) {
  EXPECT_FALSE(HasNonPrintableBytes("Plain text\twith\r\nbreaks ~"));
  EXPECT_TRUE(HasNonPrintableBytes("caf\xc3\xa9"));
  EXPECT_TRUE(HasNonPrintableBytes(std::string_view("a\0b", 3)));
  EXPECT_TRUE(HasNonPrintableBytes("\x7f"));
}

TEST(EncodeHeaderWords, QWordsNeverHoldSpecialsAsSuch) {
  EXPECT_EQ(EncodeHeaderWords("\xe9", "", 'Q', true, 76, "ISO-8859-1"), "=?iso-8859-1?Q?=E9?=");
  EXPECT_EQ(EncodeHeaderWords("a b=c?d_e", "", 'Q', false, 76, "utf-8"),
            "=?utf-8?Q?a_b=3Dc=3Fd=5Fe?=");
  EXPECT_EQ(EncodeHeaderWords("", "", 'Q', true, 76, "utf-8"), "");

  std::string long_text;
  for (int i = 0; i < 40; ++i) long_text += "caf\xc3\xa9 ";
  std::string folded = EncodeHeaderWords(long_text, "", 'Q', true, 40, "utf-8");
  size_t start = 0;
  int words = 0;
  while (start < folded.size()) {
    size_t end = folded.find("\r\n\t", start);
    std::string word = folded.substr(start, end == std::string::npos ? end : end - start);
    ++words;
    ASSERT_EQ(word.rfind("=?utf-8?Q?", 0), 0u) << word;
    ASSERT_EQ(word.substr(word.size() - 2), "?=");
    std::string inner = word.substr(10, word.size() - 12);
    // "_" stands for a space here; an underscore of the text would be "=5F".
    EXPECT_EQ(inner.find_first_of(" ?"), std::string::npos) << inner;
    EXPECT_LE(word.size(), 40u);
    start = end == std::string::npos ? folded.size() : end + 3;
  }
  EXPECT_GT(words, 5);
}

TEST(EncodeHeaderWords, BWordsFoldAtTheColumnLimit) {
  EXPECT_EQ(EncodeHeaderWords("", "", 'B', true, 76, "utf-8"),
            "=?utf-8?B?"
            "?=");
  EXPECT_EQ(EncodeHeaderWords("foobar", "", 'B', false, 10, "UTF-8"), "=?utf-8?B?Zm9vYmFy?=");
  // Limit raised to 25: prefix 10 + 2 leaves room for three groups per word.
  EXPECT_EQ(EncodeHeaderWords("foobarfoobar", "", 'B', true, 10, "utf-8"),
            "=?utf-8?B?Zm9vYmFyZm9v?=\r\n\t=?utf-8?B?YmFy?=");
}

TEST(EncodeHeaderWords, RejectsBadCharsetAndLetter) {
  try {
    EncodeHeaderWords("x", "", 'Q', true, 76, "utf");
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Function 'EncodeHeaderWords', invalid CharSet: utf");
  }
  try {
    EncodeHeaderWords("x", "", 'X', true, 76, "utf-8");
    FAIL();
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "Function 'EncodeHeaderWords', invalid EncType: X");
  }
}

TEST(EncodeHeaderWords, CharsetTooLongForTheColumnStillAdvances) {
  std::string charset(60, 'c');
  std::string out = EncodeHeaderWords("\xe9\xe9", "", 'Q', true, 25, charset);
  EXPECT_EQ(out, "=?" + charset + "?Q?=E9?=\r\n\t=?" + charset + "?Q?=E9?=");
}

TEST(Folding, HeaderLineBreaksAtTheLastBlankBeforeTheLimit) {
  std::string line(100, 'h');
  line[9] = ' ';
  line[89] = ' ';
  std::vector<std::string> lines;
  FoldHeaderLine(lines, line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], line.substr(0, 9));
  EXPECT_EQ(lines[1], "\t" + line.substr(10, 79));
  EXPECT_EQ(lines[2], "\t" + line.substr(90));
}

TEST(Folding, ShortLineAndExistingBreakString) {
  std::vector<std::string> lines;
  FoldHeaderLine(lines, "Subject: hello");
  EXPECT_EQ(lines, std::vector<std::string>{"Subject: hello"});
  lines.clear();
  FoldHeaderLine(lines, "To: a@b.c,\r\n\tc@d.e");
  EXPECT_EQ(lines, (std::vector<std::string>{"To: a@b.c,", "\tc@d.e"}));
}

TEST(Folding, SegmentsCoverTheTextAndEndWithTheLargestPosition) {
  std::string text = "one two three four five six seven eight nine ten";
  size_t pos = 1;
  std::string piece, joined;
  int n = 0;
  while (pos != kFoldEnd) {
    NextFoldSegment(text, "\r\n\t", kHeaderBreakChars, piece, pos, "", 10);
    EXPECT_LE(piece.size(), 10u) << piece;
    joined += piece;
    ++n;
  }
  EXPECT_EQ(joined, text);
  EXPECT_GT(n, 4);
  // A piece that finds no break character runs past the limit.
  pos = 1;
  NextFoldSegment(std::string(30, 'x') + " y", "\r\n\t", kHeaderBreakChars, piece, pos, "", 10);
  EXPECT_EQ(piece, std::string(30, 'x') + " ");
  EXPECT_EQ(pos, 32u);
}

TEST(Folding, QuotesKeepBreakCharactersTogether) {
  size_t pos = 1;
  std::string piece;
  NextFoldSegment("\"a, b, c, d\" e", "\r\n\t", kHeaderBreakChars, piece, pos, "\"", 4);
  EXPECT_EQ(piece, "\"a, b, c, d\" ");
}

TEST(Folding, TextLineJoinsTrimmedPieces) {
  EXPECT_EQ(FoldTextLine("alpha beta gamma", kTextBreakChars, 8), "alpha\r\n\tbeta\r\n\tgamma");
  EXPECT_EQ(FoldTextLine("short", kTextBreakChars, 76), "short");
}

TEST(ContentType, ByExtensionIgnoringCase) {
  EXPECT_EQ(ContentTypeFromFileName("rapport.TXT"), "text/plain");
  EXPECT_EQ(ContentTypeFromFileName("photo.JPEG"), "image/jpeg");
  EXPECT_EQ(ContentTypeFromFileName("/tmp/x/photo.jpg"), "image/jpeg");
  EXPECT_EQ(ContentTypeFromFileName("page.htm"), "text/html");
  EXPECT_EQ(ContentTypeFromFileName("page.Html"), "text/html");
  EXPECT_EQ(ContentTypeFromFileName("a.gif"), "image/gif");
  EXPECT_EQ(ContentTypeFromFileName("a.bmp"), "image/bmp");
  EXPECT_EQ(ContentTypeFromFileName("Makefile"), "application/octet-stream");
  EXPECT_EQ(ContentTypeFromFileName("dir.txt/archive"), "application/octet-stream");
  EXPECT_EQ(ContentTypeFromFileName("archive.tar.gz"), "application/octet-stream");
}

TEST(Md5, Rfc1321Suite) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"}};
  for (const auto& [text, digest] : cases) EXPECT_EQ(Hex(Md5(text)), digest) << text;
}

TEST(Md5, PiecewiseAddingEqualsOneShot) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += static_cast<char>(i * 31 + 7);
  for (size_t step : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 200u}) {
    TMd5Context ctx;
    for (size_t i = 0; i < text.size(); i += step) ctx.Add(text.substr(i, step));
    EXPECT_EQ(Hex(ctx.Finish()), Hex(Md5(text))) << step;
  }
  TMd5Context ctx;  // Finish starts the context again
  ctx.Add("x");
  ctx.Finish();
  ctx.Add("abc");
  EXPECT_EQ(Hex(ctx.Finish()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Sha1, Rfc3174Vectors) {
  EXPECT_EQ(Hex(Sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Hex(Sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  TSha1Context ctx;
  std::string thousand(1000, 'a');
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(ctx.Input(thousand), kShaSuccess);
  uint8_t d[20];
  ASSERT_EQ(ctx.Result(d), kShaSuccess);
  EXPECT_EQ(Hex(std::string_view(reinterpret_cast<char*>(d), 20)),
            "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  std::string eights;
  for (int i = 0; i < 80; ++i) eights += "01234567";
  EXPECT_EQ(Hex(Sha1(eights)), "dea356a2cddd90c7a7ecedc5ebb563934f460452");
}

TEST(Sha1, StatusResults) {
  TSha1Context ctx;
  EXPECT_EQ(ctx.Input(nullptr, 3), kShaNull);
  EXPECT_EQ(ctx.Input("abc"), kShaSuccess);  // a missing argument does not spoil the context
  uint8_t first[20], second[20];
  EXPECT_EQ(ctx.Result(nullptr), kShaNull);
  ASSERT_EQ(ctx.Result(first), kShaSuccess);
  ASSERT_EQ(ctx.Result(second), kShaSuccess);
  EXPECT_EQ(std::string_view(reinterpret_cast<char*>(first), 20),
            std::string_view(reinterpret_cast<char*>(second), 20));
  EXPECT_EQ(Hex(std::string_view(reinterpret_cast<char*>(first), 20)),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
  // Adding after the end fails, and the failure sticks until the next reset.
  EXPECT_EQ(ctx.Input("d"), kShaStateError);
  EXPECT_EQ(ctx.Result(first), kShaStateError);
  EXPECT_EQ(ctx.Input("d"), kShaStateError);
  EXPECT_EQ(ctx.Reset(), kShaSuccess);
  EXPECT_EQ(ctx.Input("abc"), kShaSuccess);
  EXPECT_EQ(ctx.Result(first), kShaSuccess);
}

struct HmacCase {
  std::string key, data, sha1, md5;
};

TEST(Hmac, Rfc2202Vectors) {
  std::string key25;
  for (int i = 1; i <= 25; ++i) key25 += static_cast<char>(i);
  const HmacCase cases[] = {
      {Repeat('\x0b', 20), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00", ""},
      {Repeat('\x0b', 16), "Hi There", "", "9294727a3638bb1c13f48ef8158bfc9d"},
      {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79",
       "750c783e6ab0b503eaa86e310a5db738"},
      {Repeat('\xaa', 20), Repeat('\xdd', 50), "125d7342b9ac11cd91a39af48aa17b4f63f175d3", ""},
      {Repeat('\xaa', 16), Repeat('\xdd', 50), "", "56be34521d144c88dbb8c733f0e8b3f6"},
      {key25, Repeat('\xcd', 50), "4c9007f4026250c6bc8414f9bf50c86c2d7235da",
       "697eaf0aca3a3aea3a75164746ffaa79"},
      {Repeat('\x0c', 20), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04", ""},
      {Repeat('\x0c', 16), "Test With Truncation", "", "56461ef2342edc00f9bab995690efd4c"},
      {Repeat('\xaa', 80), "Test Using Larger Than Block-Size Key - Hash Key First",
       "aa4ae5e15272d00e95705637ce8a3b55ed402112", "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
      {Repeat('\xaa', 80),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91", "6f630fad67cda0ee1fb1f562db3aa53e"},
  };
  for (const auto& c : cases) {
    if (!c.sha1.empty()) {
      EXPECT_EQ(Hex(HmacSha1(c.key, c.data)), c.sha1) << c.data;
    }
    if (!c.md5.empty()) {
      EXPECT_EQ(Hex(HmacMd5(c.key, c.data)), c.md5) << c.data;
    }
  }
}

TEST(Hmac, EmptyPasswordIsAKey) {
  EXPECT_EQ(Hex(HmacMd5(std::string_view(), std::string_view())),
            "74e6f7298a9c2d168935f58c001bad88");
  EXPECT_EQ(Hex(HmacSha1("", "")), "fbdb1d1b18aa6c08324b7d64b71fb76370690e1d");
}

TEST(Hmac, LongKeyEqualsItsDigestAsKey) {
  std::string key(70, 'k');
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<char>(i);
  EXPECT_EQ(Hex(HmacSha1(key, "message")), Hex(HmacSha1(DigestBytes(Sha1(key)), "message")));
  EXPECT_EQ(Hex(HmacMd5(key, "message")), Hex(HmacMd5(DigestBytes(Md5(key)), "message")));
  // A 64-byte key is used as it stands.
  std::string key64(64, 'k');
  EXPECT_NE(Hex(HmacSha1(key64, "m")), Hex(HmacSha1(DigestBytes(Sha1(key64)), "m")));
}

TEST(Hmac, CramMd5ExampleOfRfc2195) {
  std::string challenge = FromBase64("PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+");
  EXPECT_EQ(challenge, "<1896.697170952@postoffice.reston.mci.net>");
  std::string answer = "tim " + Hex(HmacMd5("tanstaaftanstaaf", challenge));
  EXPECT_EQ(answer, "tim b913a602c7eda7a495b4e6e7334d3890");
  EXPECT_EQ(ToBase64(answer), "dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw");
}

}  // namespace
}  // namespace jumelix
