// Writes a deterministic save for the whole-process benchmarks: DIR/BASE.sav of save bytes and
// DIR/BASE.jpg of incompressible bytes, of the given sizes in bytes. KIND picks the .sav's content:
// "binary" (the default), fixed-size binary records, or "text", records written as lines of text.
//
//   tovrel_make_save DIR BASE SAV_BYTES JPG_BYTES [binary|text]
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
  const std::string kind = argc == 6 ? argv[5] : "binary";
  if ((argc != 5 && argc != 6) || (kind != "binary" && kind != "text")) {
    std::fprintf(stderr, "usage: tovrel_make_save DIR BASE SAV_BYTES JPG_BYTES [binary|text]\n");
    return 2;
  }
  const std::string stem = std::string(argv[1]) + "/" + argv[2];
  const auto savBytes = static_cast<std::size_t>(std::strtoull(argv[3], nullptr, 10));
  const auto jpgBytes = static_cast<std::size_t>(std::strtoull(argv[4], nullptr, 10));
  const std::string sav = kind == "text" ? tovrel::bench::TextSaveBytes(savBytes, 1)
                                         : tovrel::bench::StructuredSaveBytes(savBytes, 1);
  if (!WriteFile(stem + ".sav", sav) ||
      !WriteFile(stem + ".jpg", tovrel::bench::IncompressibleBytes(jpgBytes, 2))) {
    std::perror("tovrel_make_save: cannot write the save");
    return 1;
  }
  return 0;
}
