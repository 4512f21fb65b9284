// Helpers shared by the files of the SMTP session (session engine, authentication,
// message composition): header and command cleaning, encodings of the body,
// the host name and error texts. Not part of the client's interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Secret.h"
#include "smtp/SmtpClient.h"

namespace jumelix::smtp_interne {

// Messages of the client's own window.
inline constexpr uint32_t kWmSmtpRequestDone = kWmUser + 1;

inline constexpr char kDayNames[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
inline constexpr char kMonthNames[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string UpperAscii(std::string s);
bool StartsWithNoCase(const std::string& s, std::string_view prefix);
// A header value as it goes on the wire: trimmed, every line break turned into one space
// so that a value can neither add a header nor end the header block.
std::string CleanHeaderValue(const std::string& value);
// A command line never holds a line break: one in a caller's text (an address, the
// greeting name) would start a second command.
std::string CleanCommand(std::string cmd);
// One text line as quoted-printable lines of at most 76 bytes (soft line breaks).
void AppendQuotedPrintableLines(const std::string& l, std::vector<std::string>& out);
// Base64 of a credential, appended to a secret; the plain intermediate is wiped.
void AppendBase64(TSecret& out, std::string_view bytes);
// Splits a text at CR LF, lone CR and lone LF; always at least one piece.
std::vector<std::string> SplitAtLineBreaks(const std::string& text);
const char* EncodingName(TSmtpDefaultEncoding e);
std::string LocalHostName();
std::string ErrorWithCode(int err);
// One of the mechanisms auto-selection may take (SmtpAuth.cpp's table), by its name in an
// EHLO reply.
bool SpokenMechanism(std::string_view name);

}  // namespace jumelix::smtp_interne
