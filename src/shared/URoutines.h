// Helpers shared by every layer of the program: the report accumulator, trimming, text
// conversion and the reading and writing of text files as lines. Files are read whole (or
// their first bytes) and written through a temporary file and rename, so a reader never
// sees half a file. Single-threaded like the rest of the program; nothing here throws for a
// file failure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jumelix {

// The report of a run: an ordered list of lines and a flag that says an error line was
// added since the last clearing. Lines are kept with their control characters escaped
// (EchapperControles): the report becomes a mail body, one line per line. The run fills it, the list-file reader adds its error,
// the report mail sends it as its body.
class TCompteRendu {
 public:
  // Sets the flag even for an empty line; appends the line only when it is not empty.
  void AjouterErreur(const std::string& ligne);
  // Appends a non-empty line without touching the flag.
  void AjouterMessage(const std::string& ligne);
  // Puts a line before every other one (the report mail's head line).
  void InsererEnTete(const std::string& ligne);
  void ViderCompteRendu();

  bool ErreurSignalee() const { return erreur_signalee_; }
  const std::vector<std::string>& Lignes() const { return lignes_; }

 private:
  std::vector<std::string> lignes_;
  bool erreur_signalee_ = false;
};

// The process-wide report, created at first use and living until the process ends.
TCompteRendu& CompteRendu();

// The local computer name; the first success is remembered for the life of the process,
// a failure gives the empty text and is tried again at the next call.
std::string NomOrdinateur();

// Removes every leading and trailing character whose code is 32 or below.
std::string Trim(std::string_view s);
// True when the text is empty after trimming.
bool EstBlanc(std::string_view s);

// Control characters shown as escapes, so that a file name can never split or forge a
// report or log line: tab, LF and CR as \t, \n, \r; other C0 controls and DEL as \xHH;
// the UTF-8 C1 controls and the Unicode line and paragraph separators as \uHHHH. Every
// other byte stays, backslashes included, so escaping twice changes nothing more.
std::string EchapperControles(std::string_view s);

// ASCII-only letter case folding: only a-z and A-Z are related, every other byte stays.
std::string MinusculesAscii(std::string_view s);
bool EgauxSansCasseAscii(std::string_view a, std::string_view b);

// Text encodings. Everything in memory is UTF-8; files made by the Windows program are
// Windows-1252, so a file that is not valid UTF-8 is read as Windows-1252.
bool EstUtf8Valide(std::string_view s);
std::string Cp1252VersUtf8(std::string_view s);
// Number of code points of a UTF-8 text (its "characters").
size_t NbCaracteres(std::string_view s);
// The first n characters of a UTF-8 text, never cut inside a sequence.
std::string PremiersCaracteres(std::string_view s, size_t n);
// Cuts a UTF-8 text to at most `max` bytes, never inside a sequence: a cut that would
// fall on a continuation byte moves back to the start of its sequence (a line of a mail).
void CouperOctets(std::string& texte, size_t max);
// 1234567 as "1" + separateur + "234" + separateur + "567", as French writes numbers.
std::string GrouperMilliers(uint64_t n, std::string_view separateur);

// Splits a text into lines: a line ends at CR LF, a lone CR or a lone LF; a NUL ends the
// text; a final line without line end is kept, and a final line end adds no empty line.
std::vector<std::string> DecouperLignes(std::string_view texte);

// The lines of a file's content, as LireLignesFichier gives them.
std::vector<std::string> LignesDuContenu(std::string contenu);

// Reads a whole regular file as lines, each decoded on its own (UTF-8 where valid,
// Windows-1252 otherwise), or only its first `octets_max` bytes (the last line may then be
// cut). Never blocks on a FIFO or device: anything but a regular file gives EISDIR (a
// directory) or EINVAL. Returns 0 on success, else the errno of the failure, with `lignes`
// emptied.
int LireLignesFichier(const std::string& chemin, std::vector<std::string>& lignes,
                      size_t octets_max = SIZE_MAX);

// Writes the lines, each followed by CR LF, to a temporary file beside `chemin`, then
// renames it over `chemin`: an existing file is replaced only once the new one is
// complete. `mode` is the permission of the new file. Returns 0 or the errno of the
// failure; on failure no temporary file is left behind.
int EcrireLignesFichier(const std::string& chemin, const std::vector<std::string>& lignes,
                        unsigned mode = 0644);

}  // namespace jumelix
