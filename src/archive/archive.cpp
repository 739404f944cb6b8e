#include "archive/archive.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "archive/archive_format.h"
#include "core/whole_file.h"
#include "platform/platform.h"

namespace tovrel {
namespace {

constexpr std::int64_t kMaxLength = std::numeric_limits<std::int32_t>::max();

// One record of the directory as read from the file.
struct ParsedRecord {
  std::string name;
  std::uint32_t dataOffset;
  std::uint32_t storedSize;
  std::uint32_t originalSize;
};

// True when no two streams of `records` share a byte and none lies in the header or directory, which
// end at `headerSize`. Overlapping streams would let a small file claim unbounded work.
bool StreamsAreDisjoint(const std::vector<ParsedRecord>& records, std::uint32_t headerSize) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;  // (offset, size) of each non-empty stream
  spans.reserve(records.size());
  for (const ParsedRecord& record : records) {
    if (record.storedSize > 0) spans.emplace_back(record.dataOffset, record.storedSize);
  }
  std::sort(spans.begin(), spans.end());
  std::uint64_t end = headerSize;  // the first byte a stream may use
  for (const auto& [offset, size] : spans) {
    if (offset < end) return false;
    end = std::uint64_t{offset} + size;
  }
  return true;
}

// Parses `count` records from the `size` bytes at `dir`, checking each against the file's length.
// False at the first record that runs past the directory or describes bytes the file cannot hold.
bool ParseDirectory(const char* dir, std::uint32_t size, std::int32_t count, std::int64_t fileLength,
                    std::vector<ParsedRecord>* records) {
  // every record takes at least its fixed part, so this bounds the count before anything is reserved
  if (static_cast<std::uint32_t>(count) > size / kRecordFixedSize) return false;
  std::uint32_t pos = 0;
  records->reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 0; i < count; ++i) {
    if (size - pos < 4) return false;
    const std::uint32_t nameLength = DecodeFixed32(dir + pos);
    pos += 4;
    if (nameLength > kMaxEntryNameLength) return false;
    if (size - pos < nameLength + 12) return false;
    const char* name = dir + pos;
    pos += nameLength;
    // names live in memory as C strings: an embedded zero would cut one short
    if (std::memchr(name, '\0', nameLength) != nullptr) return false;
    ParsedRecord record{std::string(name, nameLength), DecodeFixed32(dir + pos), DecodeFixed32(dir + pos + 4),
                        DecodeFixed32(dir + pos + 8)};
    pos += 12;
    if (record.originalSize > kMaxLength) return false;
    if (std::int64_t{record.dataOffset} + record.storedSize > fileLength) return false;
    // a stream cannot inflate past deflate's best ratio; refuse before anyone allocates for it
    if (record.originalSize > std::uint64_t{record.storedSize} * kMaxInflateRatio) return false;
    records->push_back(std::move(record));
  }
  return StreamsAreDisjoint(*records, kHeaderSize + size);
}

// A copy of the C string `text`, from new[].
char* CopyOf(const char* text) {
  const std::size_t size = std::strlen(text) + 1;
  return static_cast<char*>(std::memcpy(new char[size], text, size));
}

}  // namespace

Archive::Archive(const char* path) : path_(CopyOf(path)), entries_(kBucketCount) {
  headerSize_ = kHeaderSize;
  compressionLevel_ = kDefaultCompressionLevel;
  open_ = true;
}

Archive::Archive(const char* path, bool create, bool writable) : path_(CopyOf(path)), entries_(kBucketCount) {
  file_ = OpenExisting(writable);
  bool created = false;
  // create only where nothing exists: a file we merely failed to open must never be emptied
  if (file_ == nullptr && create && !PathExists(path_)) {
    file_ = CreateEmpty(path_);
    created = file_ != nullptr;
  }
  if (file_ == nullptr) {
    delete[] path_;
    path_ = nullptr;
    return;
  }
  if (!LoadDirectory()) {
    RecordFailure("it is not a well-formed archive");
    (void)std::fclose(file_);
    file_ = nullptr;
    headerSize_ = compressionLevel_ = entryCount_ = 0;
    if (created) (void)RemoveFile(path_);  // leave no half-made archive behind
    return;
  }
  open_ = true;
}

Archive::~Archive() {
  if (file_ != nullptr) (void)std::fclose(file_);
  delete[] path_;
  // entries_ destroys every entry after this body
}

std::FILE* Archive::OpenExisting(bool writable) const {
  if (!writable) return OpenFile(path_, "rb");
  std::FILE* file = OpenFile(path_, "r+b");
  // a read-only file, share or medium can still be read
  if (file == nullptr && PathExists(path_)) {
    const std::string reason = LastFailure();
    file = OpenFile(path_, "rb");
    if (file == nullptr) RecordFailure(reason);
  }
  return file;
}

std::FILE* Archive::CreateEmpty(const char* path) {
  std::FILE* file = CreateNewFile(path);
  if (file == nullptr) return nullptr;
  headerSize_ = kHeaderSize;
  compressionLevel_ = kDefaultCompressionLevel;
  entryCount_ = 0;
  char header[kHeaderSize];
  std::memcpy(header, kArchiveMagic, 4);
  EncodeFixed32(header + 4, static_cast<std::uint32_t>(headerSize_));
  EncodeFixed32(header + 8, static_cast<std::uint32_t>(compressionLevel_));
  EncodeFixed32(header + 12, static_cast<std::uint32_t>(entryCount_));
  if (std::fwrite(header, 1, sizeof(header), file) != sizeof(header) || std::fflush(file) != 0) {
    RecordErrno("a write failed");
    (void)std::fclose(file);
    (void)RemoveFile(path);
    return nullptr;
  }
  return file;
}

bool Archive::LoadDirectory() {
  // every field is checked against the file's length before anything is allocated or sought
  const std::int64_t fileLength = FileSize(file_);  // -1 when it cannot be had
  char header[kHeaderSize];
  if (fileLength < kHeaderSize || fileLength > kMaxLength || std::fseek(file_, 0, SEEK_SET) != 0 ||
      std::fread(header, 1, sizeof(header), file_) != sizeof(header)) {
    return false;
  }
  if (std::memcmp(header, kArchiveMagic, 4) != 0) return false;
  const auto headerSize = static_cast<std::int32_t>(DecodeFixed32(header + 4));
  const auto compressionLevel = static_cast<std::int32_t>(DecodeFixed32(header + 8));
  const auto entryCount = static_cast<std::int32_t>(DecodeFixed32(header + 12));
  if (headerSize < kHeaderSize || headerSize > fileLength || entryCount < 0) return false;

  const auto dirSize = static_cast<std::uint32_t>(headerSize - kHeaderSize);
  std::vector<char> dir(dirSize);
  if (dirSize > 0 && std::fread(dir.data(), 1, dirSize, file_) != dirSize) return false;
  std::vector<ParsedRecord> records;
  if (!ParseDirectory(dir.data(), dirSize, entryCount, fileLength, &records)) return false;

  std::size_t inserted = 0;
  for (const ParsedRecord& record : records) {
    auto* entry = new ArchiveEntry;
    entry->dataOffset = record.dataOffset;
    entry->storedSize = record.storedSize;
    entry->originalSize = record.originalSize;
    if (entries_.Insert(record.name.c_str(), entry) == nullptr) {
      delete entry;
      // take back what was inserted, newest first, so a failed open holds no entries
      while (inserted > 0) entries_.Remove(records[--inserted].name.c_str());
      return false;
    }
    ++inserted;
  }
  headerSize_ = headerSize;
  compressionLevel_ = compressionLevel;
  entryCount_ = entryCount;
  return true;
}

void Archive::FreeBlob(Blob* blob) {
  delete[] blob->buffer;
  blob->buffer = nullptr;
  blob->length = 0;
}

bool Archive::Contains(const char* name) const { return entries_.Find(name) != nullptr; }

std::int32_t Archive::ForEach(EntryCallback callback) {
  std::int32_t calls = 0;
  entries_.Walk([&](NameNode* node) {
    callback(this, node->name);
    ++calls;
  });
  return calls;
}

bool Archive::AddEntry(const char* name, ArchiveEntry* entry) {
  const std::size_t nameLength = std::strlen(name);
  const std::int64_t grownHeader = std::int64_t{headerSize_} + kRecordFixedSize + std::int64_t(nameLength);
  if (nameLength > kMaxEntryNameLength || grownHeader > kMaxLength ||
      entries_.Insert(name, entry) == nullptr) {
    delete entry;
    return false;
  }
  entryCount_ += 1;
  headerSize_ = static_cast<std::int32_t>(grownHeader);
  return true;
}

bool Archive::AddBlob(const char* name, const Blob& blob) {
  if (std::strlen(name) > kMaxEntryNameLength || blob.length < 0) return false;
  auto* entry = new ArchiveEntry;
  entry->originalSize = static_cast<std::uint32_t>(blob.length);
  entry->data = new (std::nothrow) unsigned char[entry->originalSize];  // non-null also for 0 bytes
  if (entry->data == nullptr) {
    delete entry;
    return false;
  }
  if (blob.length > 0) std::memcpy(entry->data, blob.buffer, entry->originalSize);
  return AddEntry(name, entry);
}

bool Archive::AddOwnedBlob(const char* name, Blob* blob) {
  auto* entry = new ArchiveEntry;
  // the entry takes the buffer over, so it goes with the entry if the entry cannot be added
  entry->data = blob->buffer != nullptr ? blob->buffer : new unsigned char[0];
  entry->originalSize = static_cast<std::uint32_t>(blob->length);
  const bool valid = blob->length >= 0;
  blob->buffer = nullptr;
  blob->length = 0;
  if (!valid) {
    delete entry;
    return false;
  }
  return AddEntry(name, entry);
}

bool Archive::AddFile(const char* name, const char* filePath) {
  if (std::strlen(name) > kMaxEntryNameLength) return false;
  Blob blob;
  if (!ReadWholeFile(filePath, &blob)) return false;
  auto* entry = new ArchiveEntry;
  entry->originalSize = static_cast<std::uint32_t>(blob.length);
  entry->data = blob.buffer;  // taken over; ReadWholeFile gives even an empty file a buffer
  return AddEntry(name, entry);
}

void Archive::Remove(const char* name) {
  if (entries_.Find(name) == nullptr) return;
  entryCount_ -= 1;
  headerSize_ -= kRecordFixedSize + static_cast<std::int32_t>(std::strlen(name));
  entries_.Remove(name);
}

std::int32_t Archive::FileLength() {
  if (file_ == nullptr) return 0;
  const std::int64_t length = FileSize(file_);
  return length >= 0 && length <= kMaxLength ? static_cast<std::int32_t>(length) : 0;
}

std::int32_t Archive::TotalOriginalSize() const {
  std::uint32_t total = 0;  // unsigned, so the sum wraps instead of overflowing
  entries_.Walk([&](NameNode* node) { total += static_cast<ArchiveEntry*>(node->value)->originalSize; });
  return static_cast<std::int32_t>(total);
}

}  // namespace tovrel
