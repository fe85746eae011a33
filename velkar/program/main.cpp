#include "velkar/program/program.h"

int main(int argc, char** argv) {
  return velkarMain(argc, argv);
}
