// Certificates for TLS tests, made with the openssl command line in a temporary directory
// the first time they are asked for, and shared by every test of the process (removed at
// exit). A private CA signs a server certificate for 127.0.0.1 and localhost, and another
// one that names only wrong.example; a self-signed certificate stands for an authority
// the client does not know. Failures leave `ok` false and say why in `error`.
#pragma once

#include <string>

namespace jumelix::test {

struct TestCertificates {
  bool ok = false;
  std::string error;
  std::string dir;
  std::string ca;                               // the CA certificate (PEM): what the client trusts
  std::string server_cert, server_key;          // SAN IP:127.0.0.1, DNS:localhost; signed by ca
  std::string wrong_cert, wrong_key;            // SAN DNS:wrong.example only; signed by ca
  std::string selfsigned_cert, selfsigned_key;  // for 127.0.0.1, signed by nobody known
};

// The certificates of this process, made at the first call.
const TestCertificates& Certificates();

}  // namespace jumelix::test
