// Whole SMTP dialogues: the input is what a server says, cut at NUL bytes into replies; a
// peer on 127.0.0.1 sends the first at once and the next after each command of the client
// (after the "." that ends the data, for the message), and hangs up when none is left.
// The report mail runs against it
// with a short deadline. Properties: the send always ends, within its deadline; it ends
// one way or the other; success comes only for a message the server received to its "."
// line; and the sanitizers watch the state machine of the session and the socket.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "FuzzCommun.h"
#include "mail/UMonMail.h"

namespace {

using Horloge = std::chrono::steady_clock;

constexpr uint32_t kDelaiMs = 200;

int Ecoute(uint16_t& port) {
  static int fd = -1;
  static uint16_t numero = 0;
  if (fd < 0) {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      std::abort();
    }
    numero = ntohs(a.sin_port);
  }
  port = numero;
  return fd;
}

// The server side of one dialogue, on its own thread.
class TPair {
 public:
  TPair(int ecoute, std::vector<std::string> repliques)
      : ecoute_(ecoute), repliques_(std::move(repliques)), fil_([this] { Jouer(); }) {}
  ~TPair() {
    arret_ = true;
    fil_.join();
    if (conn_ >= 0) close(conn_);
  }
  bool PointRecu() const { return point_recu_; }

 private:
  void Envoyer() {
    if (suivante_ >= repliques_.size()) {
      // Nothing left to say: the server hangs up (a silent one would only cost the
      // deadline at every run; the trailing bytes of a reply still test silence).
      shutdown(conn_, SHUT_WR);
      return;
    }
    const std::string& r = repliques_[suivante_++];
    size_t fait = 0;
    while (fait < r.size() && !arret_) {
      pollfd p{conn_, POLLOUT, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      ssize_t n = send(conn_, r.data() + fait, r.size() - fait, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EAGAIN) continue;
      if (n <= 0) return;
      fait += static_cast<size_t>(n);
    }
  }
  // False once the client has gone or the dialogue is over.
  bool LireLigne(std::string& ligne) {
    for (;;) {
      size_t fin = recu_.find("\r\n");
      if (fin != std::string::npos) {
        ligne = recu_.substr(0, fin);
        recu_.erase(0, fin + 2);
        return true;
      }
      if (arret_) return false;
      pollfd p{conn_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char tampon[4096];
      ssize_t n = recv(conn_, tampon, sizeof tampon, 0);
      if (n <= 0) return false;
      recu_.append(tampon, static_cast<size_t>(n));
    }
  }
  void Jouer() {
    while (conn_ < 0 && !arret_) {
      pollfd p{ecoute_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) conn_ = accept4(ecoute_, nullptr, nullptr, SOCK_CLOEXEC);
    }
    if (conn_ < 0) return;
    Envoyer();
    std::string ligne;
    while (LireLigne(ligne)) {
      if (ligne == "DATA") {
        Envoyer();
        // The message follows only when the reply was 354; otherwise the client's next
        // command comes, and is answered like any other.
        if (!LireLigne(ligne)) return;
        if (ligne.rfind("Mime-Version", 0) == 0 || ligne.rfind("From: ", 0) == 0) {
          while (ligne != ".") {
            if (!LireLigne(ligne)) return;
          }
          point_recu_ = true;
        }
      }
      Envoyer();
    }
  }

  int ecoute_;
  int conn_ = -1;
  std::vector<std::string> repliques_;
  size_t suivante_ = 0;
  std::string recu_;
  std::atomic<bool> arret_{false};
  std::atomic<bool> point_recu_{false};
  std::thread fil_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace jumelix;
  if (size == 0) return 0;
  const bool avecCompte = (data[0] & 1) != 0;
  std::vector<std::string> repliques(1);
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      repliques.emplace_back();
    } else {
      repliques.back() += static_cast<char>(data[i]);
    }
  }
  uint16_t port = 0;
  const int ecoute = Ecoute(port);
  TMonMail::DefinirDelaiPourTests(kDelaiMs);
  bool envoye = false;
  std::string erreur;
  Horloge::duration duree{};
  {
    TPair pair(ecoute, std::move(repliques));
    TMonMail mail(port, "Jumelix");
    mail.Securite = TSecuriteMail::smAucune;
    mail.Serveur = "127.0.0.1";
    mail.Objet = {"Rapport"};
    mail.Corps = {"ligne", ".", "été", std::string(1200, 'x')};
    mail.NomExpediteur = "Jumelix";
    mail.AdresseExpediteur = mail.AdresseA = mail.Destinataires = "a@x.fr;b@y.fr";
    if (avecCompte) {
      mail.Utilisateur = "jean";
      mail.MotDePasse = "secret";
    }
    const auto debut = Horloge::now();
    envoye = mail.Envoyer();
    duree = Horloge::now() - debut;
    erreur = mail.MessageErreur();
    JUMELIX_FUZZ_VERIFIER(mail.Termine());
    JUMELIX_FUZZ_VERIFIER(mail.MotDePasse.empty());
    // The server got the whole message before the send may say it went out.
    if (envoye) JUMELIX_FUZZ_VERIFIER(pair.PointRecu());
  }
  JUMELIX_FUZZ_VERIFIER(envoye == erreur.empty());
  JUMELIX_FUZZ_VERIFIER(duree < std::chrono::milliseconds(kDelaiMs + 1500));
  return 0;
}
