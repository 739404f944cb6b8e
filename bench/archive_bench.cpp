// Entry compression through Archive::Save and extraction through Archive::Extract, each against a
// bare zlib loop over the same bytes with the same 16 KiB pieces, level and durable write, in the same
// run. Runs in the working directory, where Save puts its temporary file.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "archive/archive.h"
#include "archive/archive_format.h"
#include "core/common.h"
#include "core/scrambler.h"
#include "paired.h"
#include "platform/platform.h"
#include "save_data.h"

namespace tovrel {
namespace {

constexpr char kArchivePath[] = "bench.ssav";
constexpr char kBarePath[] = "bench.zz";
constexpr char kBareTempPath[] = "bench.zz.tmp";

void Fail(benchmark::State& state, const char* what) { state.SkipWithError(what); }

// The member as it reaches the archive: range(0) selects the ".sav" (scrambled structured bytes) or a
// companion that compresses (structured bytes as they are), range(1) the length.
std::string MemberBytes(const benchmark::State& state) {
  std::string bytes = bench::StructuredSaveBytes(static_cast<std::size_t>(state.range(1)), 7);
  if (state.range(0) == 0) {
    ScrambleSaveData(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<std::uint32_t>(bytes.size()),
                     kScrambleKey);
  }
  return bytes;
}

// The least a writer of one zlib stream can do: deflate in place in kChunkSize pieces, write each
// window, put the file on disk and move it into place as Save does.
bool BareDeflateToFile(const std::string& bytes) {
  std::FILE* out = std::fopen(kBareTempPath, "wb");
  if (out == nullptr) return false;
  z_stream strm{};
  if (deflateInit(&strm, kDefaultCompressionLevel) != Z_OK) {
    (void)std::fclose(out);
    return false;
  }
  unsigned char window[kChunkSize];
  const auto* source = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t remaining = bytes.size();
  bool ok = true;
  int flush;
  do {
    const std::size_t piece = remaining <= kChunkSize ? remaining : kChunkSize;
    flush = remaining <= kChunkSize ? Z_FINISH : Z_NO_FLUSH;
    strm.next_in = const_cast<unsigned char*>(source);  // deflate does not write its input
    strm.avail_in = static_cast<uInt>(piece);
    source += piece;
    remaining -= piece;
    do {
      strm.next_out = window;
      strm.avail_out = kChunkSize;
      (void)deflate(&strm, flush);
      const std::size_t have = kChunkSize - strm.avail_out;
      ok = ok && std::fwrite(window, 1, have, out) == have;
    } while (strm.avail_out == 0);
  } while (flush != Z_FINISH);
  (void)deflateEnd(&strm);
  ok = ok && FlushToDisk(out);
  ok = std::fclose(out) == 0 && ok;
  return ok && MoveReplacing(kBareTempPath, kBarePath);
}

// The least a reader can do: one buffer of the full size, the stream read in kChunkSize pieces.
bool BareInflateFromFile(std::FILE* in, long offset, std::uint32_t storedSize, std::uint32_t originalSize) {
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[originalSize]);
  if (std::fseek(in, offset, SEEK_SET) != 0) return false;
  z_stream strm{};
  if (inflateInit(&strm) != Z_OK) return false;
  strm.next_out = buffer.get();
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
  benchmark::DoNotOptimize(buffer.get());
  return ret == Z_STREAM_END && strm.avail_out == 0;
}

void BM_SaveVsBareDeflate(benchmark::State& state) {
  const std::string bytes = MemberBytes(state);
  const Blob blob{reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                  static_cast<std::int32_t>(bytes.size())};
  std::unique_ptr<Archive> archive;
  bool ok = true;
  bench::RunPaired(
      state,
      [&] {  // a fresh archive holding the one member, as the pack command has it before saving
        archive.reset();
        (void)std::remove(kArchivePath);
        archive.reset(new Archive(Archive::StartNew(kArchivePath)));
        ok = ok && archive->IsOpen() && archive->AddBlob(kSaveExtension, blob);
      },
      [&] { ok = ok && archive->Save(); }, [&] { ok = ok && BareDeflateToFile(bytes); });
  if (!ok) Fail(state, "a save or a bare deflate failed");
  state.SetBytesProcessed(state.iterations() * state.range(1));
  archive.reset();
  (void)std::remove(kArchivePath);
  (void)std::remove(kBarePath);
}

void BM_ExtractVsBareInflate(benchmark::State& state) {
  const std::string bytes = MemberBytes(state);
  const Blob blob{reinterpret_cast<unsigned char*>(const_cast<char*>(bytes.data())),
                  static_cast<std::int32_t>(bytes.size())};
  (void)std::remove(kArchivePath);
  {
    Archive writer(kArchivePath, /*create=*/true);
    if (!writer.IsOpen() || !writer.AddBlob(kSaveExtension, blob) || !writer.Save()) {
      return Fail(state, "cannot write the archive to read");
    }
  }
  Archive archive(kArchivePath, /*create=*/false);
  std::FILE* bare = std::fopen(kArchivePath, "rb");
  if (!archive.IsOpen() || bare == nullptr) return Fail(state, "cannot open the archive");
  // one entry named ".sav": its record ends the directory and its stream runs to the end of the file
  const long dataOffset = kHeaderSize + kRecordFixedSize + static_cast<long>(std::strlen(kSaveExtension));
  const auto storedSize = static_cast<std::uint32_t>(archive.FileLength() - dataOffset);
  const auto originalSize = static_cast<std::uint32_t>(bytes.size());
  bool ok = true;
  bench::RunPaired(
      state, [] {},
      [&] {
        Blob out;
        ok = ok && archive.Extract(kSaveExtension, &out);
        archive.FreeBlob(&out);
      },
      [&] { ok = ok && BareInflateFromFile(bare, dataOffset, storedSize, originalSize); });
  (void)std::fclose(bare);
  if (!ok) Fail(state, "an extract or a bare inflate failed");
  state.SetBytesProcessed(state.iterations() * state.range(1));
}

// range(0): 0 the scrambled ".sav" (does not compress), 1 structured bytes that compress
BENCHMARK(BM_SaveVsBareDeflate)
    ->ArgNames({"compressible", "bytes"})
    ->ArgsProduct({{0, 1}, {2 << 20, 16 << 20}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractVsBareInflate)
    ->ArgNames({"compressible", "bytes"})
    ->ArgsProduct({{0, 1}, {2 << 20, 16 << 20}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tovrel
