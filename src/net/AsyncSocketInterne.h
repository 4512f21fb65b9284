// Helpers shared by the three files of TAsyncSocket (connection, I/O, the rest): text
// trimming, digits, dotted addresses, message formatting and the last system error as a
// socket code. Not part of the socket's interface.
#pragma once

#include <cstdint>
#include <string>

#include "net/AsyncSocket.h"

namespace jumelix::socket_interne {

// The events a connected socket watches: read, write, accept, connect, close (0x3B).
inline constexpr long kSelectMask = kFdRead | kFdWrite | kFdAccept | kFdConnect | kFdClose;

// Properties and resolution routines trim every character up to the blank, like the
// rest of the program's texts.
std::string TrimBlanks(const std::string& s);
std::string LowerAscii(std::string s);
bool IsDigit(char c);
// The value of the leading decimal digits of `s` (which starts with one), or -1 when it
// is larger than `limit`.
long LeadingNumber(const std::string& s, long limit);
// The address of a text that IsDottedIP accepted, network byte order.
uint32_t ParseDotted(const std::string& text);
std::string DottedText(uint32_t netAddr);
std::string Format(const char* fmt, const std::string& s, int n);
std::string Format(const char* fmt, int n);
// errno as a socket error code.
int LastCode();

}  // namespace jumelix::socket_interne
