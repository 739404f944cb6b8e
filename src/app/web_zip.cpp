// The one .zip the page offers of every file a player's runs made, written with minizip from zlib's
// own sources. Built only into the browser's engine. The files are stored as they are (archives are
// compressed already), each under its UTF-8 name with the flag that says so, so that every unzip tool,
// Windows' own included, shows the name as it was.
#include <cstdio>
#include <ctime>
#include <string>

#include "app/page_export.h"
#include "core/common.h"
#include "zip.h"

namespace {

// The flag of a zip entry whose name is UTF-8.
constexpr uLong kUtf8Names = 1u << 11;

// Adds the file `name` of the current folder to `zip` under that name. False when it cannot be read
// or written.
bool AddToZip(zipFile zip, const std::string& name, const zip_fileinfo& info) {
  std::FILE* in = std::fopen(name.c_str(), "rb");
  if (in == nullptr) return false;
  bool ok = zipOpenNewFileInZip4_64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, /*method=*/0,
                                    /*level=*/0, /*raw=*/0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                    /*password=*/nullptr, 0, /*versionMadeBy=*/0, kUtf8Names,
                                    /*zip64=*/0) == ZIP_OK;  // the engine holds under 2 GiB
  unsigned char piece[tovrel::kChunkSize];
  for (std::size_t got; ok && (got = std::fread(piece, 1, sizeof piece, in)) > 0;) {
    ok = zipWriteInFileInZip(zip, piece, static_cast<unsigned>(got)) == ZIP_OK;
  }
  ok = ok && std::ferror(in) == 0;
  (void)std::fclose(in);
  return zipCloseFileInZip(zip) == ZIP_OK && ok;
}

}  // namespace

// Writes the zip `zipPath` holding the files `names` of the current folder ('/'-joined, in that order),
// each dated now. Returns 1 when it is whole, 0 when anything failed (what was written is then removed).
extern "C" int TovrelZip(const char* zipPath, const char* names) {
  zipFile zip = zipOpen64(zipPath, APPEND_STATUS_CREATE);
  if (zip == nullptr) return 0;
  zip_fileinfo info{};
  const std::time_t now = std::time(nullptr);
  if (const std::tm* local = std::localtime(&now)) {
    info.tmz_date.tm_sec = local->tm_sec;
    info.tmz_date.tm_min = local->tm_min;
    info.tmz_date.tm_hour = local->tm_hour;
    info.tmz_date.tm_mday = local->tm_mday;
    info.tmz_date.tm_mon = local->tm_mon;
    info.tmz_date.tm_year = local->tm_year + 1900;
  }
  bool ok = true;
  for (const std::string& name : tovrel::SplitNames(names)) ok = ok && AddToZip(zip, name, info);
  ok = zipClose(zip, nullptr) == ZIP_OK && ok;
  if (!ok) (void)std::remove(zipPath);
  return ok ? 1 : 0;
}
