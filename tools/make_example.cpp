// Writes the bundled example LOC file: a few languages, accented text, an LF
// inside a string and an empty string.
#include <cstdio>
#include <fstream>

#include "locbuild/loc_builder.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example OUTPUT.loc\n");
    return 2;
  }
  locbuild::LocFile loc;
  loc.version = 2;
  loc.keys = {0x1001, 0x1002, 0x1003, 0x1004};
  loc.languages = {
      {"English", {"New Game", "Load Game", "The gate is locked.\nFind the key.", ""}, 16},
      {"French",
       {"Nouvelle partie", "Charger une partie",
        "La porte est verrouill\xC3\xA9"
        "e.\nTrouvez la cl\xC3\xA9.",
        ""},
       16},
      {"German",
       {"Neues Spiel", "Spiel laden",
        "Das Tor ist verschlossen.\nFinde den Schl\xC3\xBC"
        "ssel.",
        ""},
       16},
      {"Spanish",
       {"Nueva partida", "Cargar partida",
        "La puerta est\xC3\xA1 cerrada.\nEncuentra "
        "la llave.",
        ""},
       16},
  };
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << locbuild::BuildLoc(loc);
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_example: could not write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
