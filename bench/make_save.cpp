// Writes a deterministic save for the whole-process benchmark: DIR/BASE.sav of structured save bytes
// and DIR/BASE.jpg of incompressible bytes, of the given sizes in bytes.
//
//   tovrel_make_save DIR BASE SAV_BYTES JPG_BYTES
#include <cstdio>
#include <cstdlib>
#include <string>

#include "save_data.h"

namespace {

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  return std::fclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: tovrel_make_save DIR BASE SAV_BYTES JPG_BYTES\n");
    return 2;
  }
  const std::string stem = std::string(argv[1]) + "/" + argv[2];
  const auto savBytes = static_cast<std::size_t>(std::strtoull(argv[3], nullptr, 10));
  const auto jpgBytes = static_cast<std::size_t>(std::strtoull(argv[4], nullptr, 10));
  if (!WriteFile(stem + ".sav", tovrel::bench::StructuredSaveBytes(savBytes, 1)) ||
      !WriteFile(stem + ".jpg", tovrel::bench::IncompressibleBytes(jpgBytes, 2))) {
    std::perror("tovrel_make_save: cannot write the save");
    return 1;
  }
  return 0;
}
