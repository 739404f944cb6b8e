// The floor: the least work the ".ssav" format allows, to measure the tool against. Packing reads each
// file of the save whole, scrambles the ".sav" bytes, deflates every member at level 6 in kChunkSize
// pieces and writes the archive; unpacking inflates each entry, unscrambles the ".sav" one and writes
// the files. Both make their files as durable as the tool does (written to a temporary, flushed to
// disk, moved into place) and write the very bytes the tool writes. No checks beyond the results of
// the calls themselves: it trusts its input.
//
//   tovrel_floor pack DIR/BASE.sav      writes DIR/BASE.ssav from DIR/BASE.*
//   tovrel_floor unpack DIR/BASE.ssav   writes DIR/BASE<entry name> for every entry
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "core/common.h"
#include "core/name_table.h"
#include "core/scrambler.h"
#include "platform/platform.h"

namespace tovrel {
namespace {

struct Member {
  std::string name;  // the entry name: the file's extension
  std::unique_ptr<unsigned char[]> bytes;
  std::uint32_t length = 0;
  std::uint32_t bucket = 0;
  std::size_t added = 0;  // order of addition: later ones come first inside a bucket
  std::uint32_t dataOffset = 0;
  std::uint32_t storedSize = 0;
};

bool ReadAll(const std::string& path, Member* member) {
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) return false;
  long length = -1;
  if (std::fseek(in, 0, SEEK_END) == 0) length = std::ftell(in);
  bool ok = length >= 0 && std::fseek(in, 0, SEEK_SET) == 0;
  if (ok) {
    member->length = static_cast<std::uint32_t>(length);
    member->bytes.reset(new unsigned char[member->length]);
    ok = std::fread(member->bytes.get(), 1, member->length, in) == member->length;
  }
  (void)std::fclose(in);
  return ok;
}

bool Deflate(Member* member, std::FILE* out) {
  z_stream strm{};
  if (deflateInit(&strm, kDefaultCompressionLevel) != Z_OK) return false;
  unsigned char window[kChunkSize];
  unsigned char* source = member->bytes.get();
  std::uint32_t remaining = member->length;
  std::uint32_t stored = 0;
  bool ok = true;
  int flush;
  do {
    const std::uint32_t piece = remaining <= kChunkSize ? remaining : kChunkSize;
    flush = remaining <= kChunkSize ? Z_FINISH : Z_NO_FLUSH;
    strm.next_in = source;
    strm.avail_in = piece;
    source += piece;
    remaining -= piece;
    do {
      strm.next_out = window;
      strm.avail_out = kChunkSize;
      (void)deflate(&strm, flush);
      const std::uint32_t have = kChunkSize - strm.avail_out;
      stored += have;
      ok = ok && std::fwrite(window, 1, have, out) == have;
    } while (strm.avail_out == 0);
  } while (flush != Z_FINISH);
  (void)deflateEnd(&strm);
  member->storedSize = stored;
  return ok;
}

void Put32(std::string* out, std::uint32_t value) {
  char bytes[4];
  EncodeFixed32(bytes, value);
  out->append(bytes, 4);
}

int Pack(const std::string& savePath) {
  const std::size_t slash = savePath.rfind('/');
  const std::string directory = savePath.substr(0, slash + 1);
  const std::string baseName =
      savePath.substr(slash + 1, savePath.size() - slash - 1 - std::strlen(kSaveExtension));
  const std::string archivePath = directory + baseName + kArchiveExtension;
  std::vector<FoundFile> found;
  if (!ListMatchingFiles(directory.c_str(), baseName.c_str(), &found)) return 1;

  // read and scramble, in the order the tool adds the files
  std::vector<Member> members;
  for (const FoundFile& file : found) {
    const char* extension = FindExtension(file.name.c_str());
    if (file.isDirectory || static_cast<std::size_t>(extension - file.name.c_str()) != baseName.size() ||
        std::strcmp(extension, kArchiveExtension) == 0) {
      continue;
    }
    Member member;
    member.name = extension;
    if (!ReadAll(directory + file.name, &member)) return 1;
    if (member.name == kSaveExtension) ScrambleSaveData(member.bytes.get(), member.length, kScrambleKey);
    member.bucket = HashName(member.name.c_str()) % kBucketCount;
    member.added = members.size();
    members.push_back(std::move(member));
  }
  // the archive's walk order: bucket by bucket, newest first inside one
  std::sort(members.begin(), members.end(), [](const Member& a, const Member& b) {
    return a.bucket != b.bucket ? a.bucket < b.bucket : a.added > b.added;
  });

  std::uint32_t headerSize = kHeaderSize;
  for (const Member& member : members) headerSize += kRecordFixedSize + member.name.size();
  const std::string tempPath = archivePath + ".floor";
  std::FILE* out = std::fopen(tempPath.c_str(), "wb");
  if (out == nullptr) return 1;
  bool ok = std::fseek(out, headerSize, SEEK_SET) == 0;
  std::uint32_t offset = headerSize;
  for (Member& member : members) {
    member.dataOffset = offset;
    ok = ok && Deflate(&member, out);
    offset += member.storedSize;
  }
  std::string head(kArchiveMagic, 4);
  Put32(&head, headerSize);
  Put32(&head, kDefaultCompressionLevel);
  Put32(&head, static_cast<std::uint32_t>(members.size()));
  for (const Member& member : members) {
    Put32(&head, static_cast<std::uint32_t>(member.name.size()));
    head += member.name;
    Put32(&head, member.dataOffset);
    Put32(&head, member.storedSize);
    Put32(&head, member.length);
  }
  ok =
      ok && std::fseek(out, 0, SEEK_SET) == 0 && std::fwrite(head.data(), 1, head.size(), out) == head.size();
  ok = ok && FlushToDisk(out);
  ok = std::fclose(out) == 0 && ok;
  return ok && MoveReplacing(tempPath.c_str(), archivePath.c_str()) ? 0 : 1;
}

bool Inflate(std::FILE* in, std::uint32_t storedSize, unsigned char* out, std::uint32_t originalSize) {
  z_stream strm{};
  if (inflateInit(&strm) != Z_OK) return false;
  strm.next_out = out;
  strm.avail_out = originalSize;
  unsigned char piece[kChunkSize];
  std::uint32_t remaining = storedSize;
  int ret = Z_OK;
  while (ret == Z_OK && remaining > 0) {
    const std::uint32_t size = remaining < kChunkSize ? remaining : kChunkSize;
    if (std::fread(piece, 1, size, in) != size) break;
    remaining -= size;
    strm.next_in = piece;
    strm.avail_in = size;
    ret = inflate(&strm, Z_NO_FLUSH);
  }
  (void)inflateEnd(&strm);
  return ret == Z_STREAM_END && strm.avail_out == 0;
}

int Unpack(const std::string& archivePath) {
  const std::string stem = archivePath.substr(0, archivePath.size() - std::strlen(kArchiveExtension));
  std::FILE* in = std::fopen(archivePath.c_str(), "rb");
  if (in == nullptr) return 1;
  char header[kHeaderSize];
  if (std::fread(header, 1, kHeaderSize, in) != kHeaderSize) return 1;
  const std::uint32_t headerSize = DecodeFixed32(header + 4);
  const std::uint32_t entryCount = DecodeFixed32(header + 12);
  std::string directory(headerSize - kHeaderSize, '\0');
  if (std::fread(&directory[0], 1, directory.size(), in) != directory.size()) return 1;

  std::size_t at = 0;
  for (std::uint32_t i = 0; i < entryCount; ++i) {
    const std::uint32_t nameLength = DecodeFixed32(&directory[at]);
    const std::string name = directory.substr(at + 4, nameLength);
    at += 4 + nameLength;
    const std::uint32_t dataOffset = DecodeFixed32(&directory[at]);
    const std::uint32_t storedSize = DecodeFixed32(&directory[at + 4]);
    const std::uint32_t originalSize = DecodeFixed32(&directory[at + 8]);
    at += 12;

    std::unique_ptr<unsigned char[]> bytes(new unsigned char[originalSize]);
    if (std::fseek(in, static_cast<long>(dataOffset), SEEK_SET) != 0 ||
        !Inflate(in, storedSize, bytes.get(), originalSize)) {
      return 1;
    }
    if (name == kSaveExtension) ScrambleSaveData(bytes.get(), originalSize, kScrambleKey);
    const std::string path = stem + name;
    const std::string tempPath = path + ".floor";
    std::FILE* out = std::fopen(tempPath.c_str(), "wb");
    if (out == nullptr) return 1;
    bool ok = std::fwrite(bytes.get(), 1, originalSize, out) == originalSize && FlushToDisk(out);
    ok = std::fclose(out) == 0 && ok;
    if (!ok || !MoveReplacing(tempPath.c_str(), path.c_str())) return 1;
  }
  (void)std::fclose(in);
  return 0;
}

}  // namespace
}  // namespace tovrel

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "pack") == 0) return tovrel::Pack(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "unpack") == 0) return tovrel::Unpack(argv[2]);
  std::fprintf(stderr, "usage: tovrel_floor pack DIR/BASE.sav | unpack DIR/BASE.ssav\n");
  return 2;
}
