// A file of the SMTP layer that reaches for TLS itself: libcrypto's digests are its own to
// use, the TLS library is the network layer's.
#include <openssl/ssl.h>
