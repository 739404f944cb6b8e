// What platform_common.cpp builds on in each system's own file (platform_posix.cpp or
// platform_win32.cpp). Included by the platform's files alone.
#ifndef TOVREL_PLATFORM_PLATFORM_INTERNAL_H_
#define TOVREL_PLATFORM_PLATFORM_INTERNAL_H_

#include <vector>

#include "platform/platform.h"

namespace tovrel {

// The characters that end a path's directory part: '/' on POSIX; '\', '/' and a drive's ':' on Windows.
extern const char kPathSeparators[];

// Just past the last of kPathSeparators in `path`, or `path` itself when it holds none.
const char* FinalComponent(const char* path);

// Appends to `*entries` every entry of `directory` (which ends in its separator) whose name is
// `baseName` or begins with `baseName` followed by '.', the base matched literally and with the letter
// case rules of the file system; never "." or "..". Returns false, with the reason recorded, when the
// directory cannot be searched to its end (finding nothing at all may also count as that).
bool ReadMatchingEntries(const char* directory, const char* baseName, std::vector<FoundFile>* entries);

}  // namespace tovrel

#endif  // TOVREL_PLATFORM_PLATFORM_INTERNAL_H_
