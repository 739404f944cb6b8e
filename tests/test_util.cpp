#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "archive/iarchive.h"
#include "core/block_pool.h"
#include "platform/platform.h"
#include "platform/platform_test_helper.h"

namespace fs = std::filesystem;

namespace tovrel {
namespace test {

void DirectHeapPool::SetUp() { CreatePool(kDirectHeapMode); }

void DirectHeapPool::TearDown() { DestroyPool(); }

fs::path FsPath(const std::string& path) {
#ifdef _WIN32
  return fs::u8path(path);
#else
  return fs::path(path);
#endif
}

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path dir =
      fs::temp_directory_path() / ("tovrel-test-" + std::to_string(std::random_device{}()) + "-" +
                                   std::to_string(stamp) + "-" + std::to_string(counter++));
  std::error_code ec;
  if (fs::create_directory(dir, ec)) path_ = dir.u8string();
  if (path_.empty()) ADD_FAILURE() << "cannot create the scratch directory " << dir;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(FsPath(path_), ec);
}

std::string ScratchDir::Path(const std::string& name) const {
  return (FsPath(path_) / FsPath(name)).u8string();
}

std::string FromHex(std::string hex) {
  hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
  std::string bytes;
  for (std::size_t at = 0; at + 1 < hex.size(); at += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16)));
  return bytes;
}

std::string Scrambled(std::string bytes, std::uint32_t key) {
  ScrambleSaveData(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<std::uint32_t>(bytes.size()),
                   key);
  return bytes;
}

std::string RandomBytes(std::size_t length, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xFF);
  return bytes;
}

std::string TextBytes(std::size_t length, std::uint32_t seed) {
  static const char* const kWords[] = {"castle ", "sword ", "gold=", "42 ", "quest\n", "player.x=", "-17 "};
  std::mt19937 gen(seed);
  std::string bytes;
  while (bytes.size() < length) bytes += kWords[gen() % std::size(kWords)];
  bytes.resize(length);
  return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  ASSERT_TRUE(out.good()) << "cannot write fixture " << path;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return std::string();
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const ScratchDir& dir, const Files& files) {
  for (const auto& [name, bytes] : files) WriteBytes(dir.Path(name), bytes);
}

Files Contents(const std::string& dir, bool withTemporaries) {
  Files files;
  for (const auto& entry : fs::directory_iterator(FsPath(dir))) {
    const std::string name = entry.path().filename().u8string();
    if (withTemporaries || !IsTempFileName(name.c_str()))
      files[name] = entry.is_regular_file() ? ReadBytes(entry.path().u8string()) : "/";
  }
  return files;
}

Blob BlobOf(std::string& bytes) {
  return Blob{reinterpret_cast<unsigned char*>(bytes.data()), static_cast<std::int32_t>(bytes.size())};
}

std::string ExtractString(IArchive* archive, const char* name) {
  Blob out;
  if (!archive->Extract(name, &out)) {
    ADD_FAILURE() << "cannot extract '" << name << "'";
    return std::string();
  }
  std::string bytes(reinterpret_cast<const char*>(out.buffer), static_cast<std::size_t>(out.length));
  archive->FreeBlob(&out);
  return bytes;
}

}  // namespace test
}  // namespace tovrel
