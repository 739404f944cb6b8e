// The interface through which the commands use an archive. Archive is its one implementation, always a
// local object of its user: the destructor is protected and not virtual, so an archive cannot be
// deleted through this interface.
#ifndef TOVREL_ARCHIVE_IARCHIVE_H_
#define TOVREL_ARCHIVE_IARCHIVE_H_

#include <cstdint>

#include "core/common.h"

namespace tovrel {

class Archive;

// Called by ForEach with the archive and one entry name (the table's copy, valid during the call).
using EntryCallback = void (*)(Archive* archive, const char* name);

class IArchive {
 public:
  // True while the archive file is open.
  virtual bool IsOpen() const = 0;
  // Fills `*out` with a new buffer holding the entry's uncompressed bytes. Returns false when `name` is
  // absent (`*out` untouched) or its bytes cannot be recovered whole (`*out` released and zeroed).
  virtual bool Extract(const char* name, Blob* out) = 0;
  // Releases `blob`'s buffer (null allowed) and zeroes the Blob. Serves Blobs from Extract and
  // ReadWholeFile alike.
  virtual void FreeBlob(Blob* blob) = 0;
  // True when an entry named `name` exists.
  virtual bool Contains(const char* name) const = 0;
  // Calls `callback` for every entry in walk order and returns the number of calls. The callback may
  // remove the entry it is given, and no other.
  virtual std::int32_t ForEach(EntryCallback callback) = 0;
  // Adds an in-memory entry holding the whole file at `filePath`. Returns false, changing nothing, when
  // the file cannot be read whole, is 2^31 bytes or longer, or `name` is longer than 267 bytes.
  virtual bool AddFile(const char* name, const char* filePath) = 0;
  // Adds an in-memory entry holding a copy of `blob`'s bytes. Returns false, changing nothing, when
  // `name` is longer than 267 bytes or no table node can be had.
  virtual bool AddBlob(const char* name, const Blob& blob) = 0;
  // Drops the newest entry named `name`; an absent name changes nothing.
  virtual void Remove(const char* name) = 0;
  // Writes the archive anew and puts it in place of its file, then reopens it. Returns true when the
  // archive is open again on the new file. On false the file at the archive's path is either the old
  // archive, untouched, or (only when the final reopening failed) the complete new one.
  virtual bool Save() = 0;

 protected:
  IArchive() = default;
  ~IArchive() = default;
  IArchive(const IArchive&) = default;
  IArchive& operator=(const IArchive&) = default;
};

}  // namespace tovrel

#endif  // TOVREL_ARCHIVE_IARCHIVE_H_
