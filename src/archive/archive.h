// The archive object: one ".ssav" file, held open for reading and writing from construction to
// destruction, and its entries. Entries loaded from the directory keep their bytes in the file until
// extracted or copied by Save; entries added in memory keep their uncompressed bytes until the archive
// is destroyed. The archive owns its path copy, its file, its table and every entry.
#ifndef TOVREL_ARCHIVE_ARCHIVE_H_
#define TOVREL_ARCHIVE_ARCHIVE_H_

#include <cstdint>
#include <cstdio>

#include "archive/iarchive.h"
#include "core/common.h"
#include "core/name_table.h"

namespace tovrel {

class ArchiveEntry final : public EntryBase {
 public:
  ArchiveEntry() = default;
  ~ArchiveEntry() override { delete[] data; }
  ArchiveEntry(const ArchiveEntry&) = delete;
  ArchiveEntry& operator=(const ArchiveEntry&) = delete;

  std::uint32_t dataOffset = 0;    // where the entry's stream starts in the archive file
  std::uint32_t storedSize = 0;    // length of that stream
  std::uint32_t originalSize = 0;  // length of the uncompressed bytes
  unsigned char* data = nullptr;   // in-memory entries: originalSize bytes (non-null even for 0)
};

class Archive final : public IArchive {
 public:
  // Opens the archive at `path` for reading and writing (for reading alone when writing is refused,
  // as for a read-only file) and loads its directory. When nothing exists at `path` and `create` is
  // true, creates an empty archive there. A file that exists but is not a well-formed archive is left
  // untouched and the archive is not open. Ask IsOpen afterwards.
  Archive(const char* path, bool create) : Archive(path, create, /*writable=*/true) {}
  // Opens the existing archive at `path` for reading alone and loads its directory, as the constructor
  // does but without ever asking for write access: for looking at an archive without changing it.
  static Archive ForReading(const char* path) { return Archive(path, /*create=*/false, /*writable=*/false); }
  // An empty archive for `path` that exists in memory alone: nothing on disk is read or changed until
  // Save puts the complete archive there, replacing whatever file has that name.
  static Archive StartNew(const char* path) { return Archive(path); }
  // Closes the file and releases the path, every entry and the table.
  ~Archive();

  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  bool IsOpen() const override { return open_; }
  bool Extract(const char* name, Blob* out) override;
  void FreeBlob(Blob* blob) override;
  bool Contains(const char* name) const override;
  std::int32_t ForEach(EntryCallback callback) override;
  bool AddFile(const char* name, const char* filePath) override;
  bool AddBlob(const char* name, const Blob& blob) override;
  void Remove(const char* name) override;
  bool Save() override;

  // Adds an in-memory entry that takes over `*blob`'s buffer (which must come from new[]) instead of
  // copying it, and leaves `*blob` empty whatever the result. Returns false, with the buffer released,
  // when `name` is longer than 267 bytes or no table node can be had.
  bool AddOwnedBlob(const char* name, Blob* blob);

  // Inflates the newest entry named `name` without keeping its bytes. True when its stream is whole:
  // it ends, its checksum matches and it gives exactly the entry's original size. On false the reason
  // is left for LastFailure. Needs no more memory than one piece of the stream, whatever its size.
  bool Verify(const char* name);

  // Calls `visit(name, entry)` for every entry, in walk order (the order of ForEach).
  template <typename Visitor>
  void VisitEntries(Visitor visit) const {
    entries_.Walk([&visit](const NameNode* node) {
      visit(node->name, *static_cast<const ArchiveEntry*>(node->value));
    });
  }

  // The current length of the archive file; the stream position is left where it was. 0 when there is
  // no file (not open, or new and not saved yet).
  std::int32_t FileLength();
  // The sum of every entry's original size, wrapping like a 32-bit signed counter.
  std::int32_t TotalOriginalSize() const;
  // The path given at construction, or null when the file could neither be opened nor created.
  const char* Path() const { return path_; }
  std::int32_t HeaderSize() const { return headerSize_; }
  std::int32_t EntryCount() const { return entryCount_; }

 private:
  explicit Archive(const char* path);
  Archive(const char* path, bool create, bool writable);
  // Opens the file at path_ for reading and writing (when `writable`), or for reading alone when
  // writing is refused or not wanted.
  std::FILE* OpenExisting(bool writable) const;
  // Creates `path`, which must not exist, holding an empty archive's header and returns it open
  // ("w+b"), or null.
  std::FILE* CreateEmpty(const char* path);
  // Reads and checks the header and directory; false when the file is not a well-formed archive.
  bool LoadDirectory();
  // Adds an in-memory entry that takes ownership of `entry`, or destroys it and returns false.
  bool AddEntry(const char* name, ArchiveEntry* entry);
  // Write the stream of `node`'s entry at `newFile`'s position and set its dataOffset there. True when
  // the whole stream was written.
  bool CompressEntry(std::FILE* newFile, NameNode* node);
  bool CopyEntry(std::FILE* newFile, NameNode* node);
  // Inflates `entry`'s stored stream into `buffer` (originalSize bytes), or through a scratch window
  // when `buffer` is null. Returns null when the stream is whole, else why it is not.
  const char* InflateStream(const ArchiveEntry& entry, unsigned char* buffer);
  // Writes header, directory and every stream into `newFile`. False on any short or failed write.
  bool WriteArchive(std::FILE* newFile);

  char* path_ = nullptr;
  std::FILE* file_ = nullptr;
  bool open_ = false;  // the file is open, or the archive is new and lives in memory
  std::int32_t headerSize_ = 0;
  std::int32_t compressionLevel_ = 0;
  std::int32_t entryCount_ = 0;
  NameTable entries_;
};

}  // namespace tovrel

#endif  // TOVREL_ARCHIVE_ARCHIVE_H_
