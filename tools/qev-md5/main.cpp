// qev-md5 FILE...: prints "HEX  FILE" for each file, as md5sum does. The engine's own digest,
// so benchmarks and scripts can compare it with md5sum on the same files.
#include <cstdio>
#include <string>

#include "engine/Md5.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qev-md5 FILE...\n");
    return 2;
  }
  int rc = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string hex = ns_KDL::Md5OfFile(std::string(argv[i]));
    if (hex.empty()) {
      std::fprintf(stderr, "qev-md5: %s: cannot read\n", argv[i]);
      rc = 1;
      continue;
    }
    std::printf("%s  %s\n", hex.c_str(), argv[i]);
  }
  return rc;
}
