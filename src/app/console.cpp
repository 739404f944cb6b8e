// The tool's console texts. stdout carries only the banner, the usage text and the report, byte for
// byte as they have always read; everything about failures goes to stderr, one line each.
#include "app/console.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "archive/archive_format.h"
#include "platform/platform.h"

namespace tovrel {

namespace {

// Writes one line on stderr: `prefix` and the formatted text, as UTF-8 (paths are), in one piece.
void ReportLine(const char* prefix, const char* format, std::va_list args) {
  std::va_list again;
  va_copy(again, args);
  // room for the text and vsnprintf's terminator; none for a text that cannot be formatted
  std::string text(static_cast<std::size_t>(std::max(std::vsnprintf(nullptr, 0, format, args), 0)) + 1, '\0');
  (void)std::vsnprintf(&text[0], text.size(), format, again);
  va_end(again);
  text.back() = '\n';
  WriteText(stderr, prefix + text);
}

}  // namespace

void PrintBanner() {
  std::puts("Brask Tovrel Utility ver. 1.0");
  std::puts("Packs and unpacks Brask saved games.\n");  // the text's own newline leaves an empty line
}

void PrintUsage() {
  std::puts("Command usage:");
  std::puts("\tTovrel.exe arg1 [arg2]\n");
  std::puts("\t\targ1 - save name to convert");
  std::puts("\t\t\t.sav extension for packing and");
  std::printf("\t\t\t%s extension for unpacking\n", kArchiveExtension);
  std::puts("\t\targ2 - (optional) archive name (valid for packing only)");
  std::puts("Sample:");
  std::printf(
      "Tovrel.exe autosave1.sav - Packs save named \"autosave1\"\n\t\t\t\tand create archive "
      "\"autosave1%s\"\n",
      kArchiveExtension);
  std::printf(
      "Tovrel.exe autosave1.sav myarch - Packs save named \"autosave1\"\n\t\t\t\tand create archive "
      "\"myarch%s\"\n",
      kArchiveExtension);
  std::printf("Tovrel.exe autosave1%s - Unpack archive \"autosave1%s\"\n", kArchiveExtension,
              kArchiveExtension);
}

void PrintOptions() {
  std::puts("Options:");
  std::puts("\t-l, --list ARCHIVE.ssav...\tlist the entries and what unpacking writes");
  std::puts("\t-t, --test ARCHIVE.ssav...\tcheck every entry; writes nothing");
  std::puts("\t-h, --help, /?\t\t\tshow this text");
  std::puts("\t--version\t\t\tshow the version");
  std::puts("\t--\t\t\t\tend the options: a file named \"-x\" is given as -- -x or ./-x");
  std::puts("Two or more .sav or .ssav files are packed or unpacked one after another.");
}

void PrintVersion() { std::printf("Tovrel %s\n", TOVREL_VERSION); }

int PrintStatistics(std::int32_t archiveBytes, std::int32_t originalBytes, std::int32_t fileCount) {
  // nothing to compare against when every member is empty: call that no compression at all
  const double ratio = originalBytes == 0 ? 0.0
                                          : 100.0 - static_cast<double>(archiveBytes) /
                                                        static_cast<double>(originalBytes) * 100.0;
  std::printf("Total files in archive: \t%d\n", fileCount);
  std::printf("Compressed size: \t\t%d\n", archiveBytes);
  std::printf("Original size: \t\t\t%d\n", originalBytes);
  std::printf("Compress ratio: \t\t%.2f%%\n", ratio);
  return 0;
}

void ReportError(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  ReportLine("error: ", format, args);
  va_end(args);
}

void ReportNote(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  ReportLine("note: ", format, args);
  va_end(args);
}

}  // namespace tovrel
