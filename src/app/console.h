// The console texts of the tool: banner, usage, the statistics report (all on stdout, exactly as users
// and scripts know them) and one-line failure and notice messages on stderr. Also the exit codes.
#ifndef TOVREL_APP_CONSOLE_H_
#define TOVREL_APP_CONSOLE_H_

#include <cstdint>

namespace tovrel {

enum ExitCode : int {
  kExitOk = 0,
  kExitNotFound = 1,       // argument missing, no file of the save, a member unreadable, a path too long
  kExitUsage = 2,          // no argument, an unknown option or an option without its archive
  kExitArchiveFailed = 3,  // archive cannot be opened, created or saved; an entry could not be written
  kExitStdoutFailed = 1    // the report could not be written to stdout
};

// Prints the two banner lines.
void PrintBanner();

// Prints the usage text.
void PrintUsage();

// Prints what --help adds to the usage text: the options and the several-files rule.
void PrintOptions();

// Prints the version line: the program's name and the version the build was made from.
void PrintVersion();

// Prints the four-line report: file count, archive length, original total and compression ratio
// (0.00% when the original total is 0). Returns 0.
int PrintStatistics(std::int32_t archiveBytes, std::int32_t originalBytes, std::int32_t fileCount);

// Prints "error: <printf-formatted text>" as one line on stderr.
void ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints "note: <printf-formatted text>" as one line on stderr.
void ReportNote(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tovrel

#endif  // TOVREL_APP_CONSOLE_H_
