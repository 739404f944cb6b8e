// Moving a complete file between disk and a Blob, in pieces of at most kChunkSize bytes, in binary mode.
// Nothing here prints; callers report failures with the reason LastFailure gives.
#ifndef TOVREL_CORE_WHOLE_FILE_H_
#define TOVREL_CORE_WHOLE_FILE_H_

#include <cstdio>

#include "core/common.h"

namespace tovrel {

// Reads the whole regular file at `path` into a new buffer of exactly its length, stored in `*blob`
// (whose old contents are overwritten, not released: pass an empty Blob). The caller owns the buffer.
// Returns false, with `*blob` untouched, when the file cannot be opened, is not a regular file (a
// directory, FIFO or device is refused without waiting), is 2^31 bytes or longer, cannot be read
// completely, or no buffer of its length can be had.
bool ReadWholeFile(const char* path, Blob* blob);

// Makes `blob`'s bytes the entire contents of the file at `path`: they are written to a new temporary
// file beside it, flushed to disk, and put in its place by one rename, so a file already there is
// replaced whole or not at all (and keeps its permission bits; one the user may not write is not
// replaced). Returns false when any step fails; the temporary is then removed and `path` is as it was.
bool WriteWholeFile(const char* path, const Blob& blob);

// Closes `file`, just filled by a writer whose writes all succeeded when `written` is true, and then
// first pushes its bytes to disk. Returns true when they are all there; false, with the reason left
// for LastFailure, when a write (as `written` or the stream says), the flush or the close failed. A
// failed write's reason is read from errno, which the writer clears before it starts.
bool CloseWrittenFile(std::FILE* file, bool written);

}  // namespace tovrel

#endif  // TOVREL_CORE_WHOLE_FILE_H_
