// zarerera: one-shot commands for PLX 9050 I/O boards, for people and scripts.
#include "cli.h"

int main(int argc, char** argv) {
  return zcmd::Main(argc, argv);
}
