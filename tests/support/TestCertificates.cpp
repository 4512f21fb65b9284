#include "support/TestCertificates.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace jumelix::test {
namespace {

namespace fs = std::filesystem;

bool Run(const std::string& command, const std::string& dir, std::string& error) {
  const std::string full = "cd '" + dir + "' && " + command + " >>openssl.log 2>&1";
  if (std::system(full.c_str()) == 0) return true;
  std::ifstream log(dir + "/openssl.log");
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  error = "openssl failed: " + command + "\n" + text;
  return false;
}

// A P-256 key is made in a moment, unlike RSA.
const std::string kNewKey = "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

bool SignedBy(const std::string& name, const std::string& san, const std::string& dir,
              std::string& error) {
  {
    std::ofstream ext(dir + "/" + name + ".ext");
    ext << "subjectAltName=" << san << "\nbasicConstraints=CA:FALSE\n"
        << "extendedKeyUsage=serverAuth\n";
  }
  return Run(kNewKey + " -keyout " + name + ".key -out " + name + ".csr -subj /CN=" + name, dir,
             error) &&
         Run("openssl x509 -req -in " + name +
                 ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -out " + name +
                 ".pem -days 2 -extfile " + name + ".ext",
             dir, error);
}

struct Holder {
  TestCertificates c;
  Holder() {
    std::string tmpl = (fs::temp_directory_path() / "jumelix-certs-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
      c.error = "mkdtemp failed";
      return;
    }
    c.dir = tmpl;
    const std::string& d = c.dir;
    std::string& e = c.error;
    c.ok = Run("openssl req -x509 " + kNewKey.substr(12) +
                   " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Jumelix Test CA'"
                   " -addext basicConstraints=critical,CA:TRUE"
                   " -addext keyUsage=critical,keyCertSign,cRLSign",
               d, e) &&
           SignedBy("server", "IP:127.0.0.1,DNS:localhost", d, e) &&
           SignedBy("wrong", "DNS:wrong.example", d, e) &&
           Run("openssl req -x509 " + kNewKey.substr(12) +
                   " -keyout selfsigned.key -out selfsigned.pem -days 2 -subj /CN=localhost"
                   " -addext subjectAltName=IP:127.0.0.1,DNS:localhost",
               d, e);
    c.ca = d + "/ca.pem";
    c.server_cert = d + "/server.pem";
    c.server_key = d + "/server.key";
    c.wrong_cert = d + "/wrong.pem";
    c.wrong_key = d + "/wrong.key";
    c.selfsigned_cert = d + "/selfsigned.pem";
    c.selfsigned_key = d + "/selfsigned.key";
  }
  ~Holder() {
    std::error_code ec;
    if (!c.dir.empty()) fs::remove_all(c.dir, ec);
  }
};

}  // namespace

const TestCertificates& Certificates() {
  static Holder holder;
  return holder.c;
}

}  // namespace jumelix::test
