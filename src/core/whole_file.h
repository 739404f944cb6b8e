// Moving a complete file between disk and a Blob, in pieces of at most kChunkSize bytes, in binary mode.
// Nothing here prints; callers report failures.
#ifndef TOVREL_CORE_WHOLE_FILE_H_
#define TOVREL_CORE_WHOLE_FILE_H_

#include "core/common.h"

namespace tovrel {

// Reads the whole file at `path` into a new buffer of exactly its length, stored in `*blob` (whose old
// contents are overwritten, not released: pass an empty Blob). The caller owns the buffer.
// Returns false, with `*blob` untouched, when the file cannot be opened, names a directory, is
// 2^31 bytes or longer, or cannot be read completely.
bool ReadWholeFile(const char* path, Blob* blob);

// Makes `blob`'s bytes the entire contents of the file at `path`, created or truncated, and flushes
// them to disk. Returns false when the file cannot be opened, `path` names a directory, or a write,
// flush or close fails; a file it created or truncated is then removed rather than left half-written.
bool WriteWholeFile(const char* path, const Blob& blob);

}  // namespace tovrel

#endif  // TOVREL_CORE_WHOLE_FILE_H_
