// Prints the synthesis path the program starts on ("avx2"), or with
// --available every path this build and processor can run, one a line: the
// Wine suite and the tests learn from it what to force, and that forcing works.
#include <cstdio>
#include <cstring>

#include "decoder/synthesis.h"

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "--available") == 0) {
    for (SynthesisPath path : kSynthesisPaths) {
      if (synthesis_path_available(path)) printf("%s\n", synthesis_path_name(path));
    }
    return 0;
  }
  printf("%s\n", synthesis_path_name(synthesis_path_in_use()));
  return 0;
}
