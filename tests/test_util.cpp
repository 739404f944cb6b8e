#include "test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "archive/iarchive.h"
#include "core/block_pool.h"

namespace fs = std::filesystem;

namespace tovrel {
namespace test {
namespace {

std::string MakeUniqueDir(const fs::path& parent) {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  const auto stamp = static_cast<unsigned long long>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "tovrel-test-" << rd() << "-" << stamp << "-" << counter++;
    const fs::path dir = parent / name.str();
    std::error_code ec;
    if (fs::create_directory(dir, ec)) return dir.string();
  }
  ADD_FAILURE() << "cannot create a scratch directory under " << parent;
  return parent.string();
}

}  // namespace

void DirectHeapPool::SetUp() { CreatePool(kDirectHeapMode); }

void DirectHeapPool::TearDown() { DestroyPool(); }

ScratchDir::ScratchDir() : path_(MakeUniqueDir(fs::temp_directory_path())) {}

ScratchDir::ScratchDir(const std::string& parent) : path_(MakeUniqueDir(parent)) {}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ScratchDir::Path(const std::string& name) const { return (fs::path(path_) / name).string(); }

CurrentDir::CurrentDir(const std::string& dir) : previous_(fs::current_path().string()) {
  fs::current_path(dir);
}

CurrentDir::~CurrentDir() {
  std::error_code ec;
  fs::current_path(previous_, ec);
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  int high = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9') {
      v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      v = c - 'A' + 10;
    } else {
      continue;
    }
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  return bytes;
}

std::string RandomBytes(std::size_t length, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(gen() & 0xFF);
  return bytes;
}

std::string TextBytes(std::size_t length, std::uint32_t seed) {
  static const char* const kWords[] = {"castle ", "sword ", "gold=", "42 ", "quest\n", "player.x=",
                                       "-17 ",    "inventory ", "level:3 ", "\t"};
  std::mt19937 gen(seed);
  std::string bytes;
  bytes.reserve(length);
  while (bytes.size() < length) bytes += kWords[gen() % (sizeof(kWords) / sizeof(kWords[0]))];
  bytes.resize(length);
  return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  ASSERT_TRUE(out.good()) << "cannot write fixture " << path;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return std::string();
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

void PutFixed32(std::string* bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

Blob BlobOf(std::string& bytes) {
  Blob blob;
  blob.buffer = reinterpret_cast<unsigned char*>(bytes.data());
  blob.length = static_cast<std::int32_t>(bytes.size());
  return blob;
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

ToolResult RunTool(const std::string& toolPath, const std::string& workDir, const std::string& args) {
  ScratchDir capture;
  const std::string outPath = capture.Path("stdout");
  const std::string errPath = capture.Path("stderr");
#ifdef _WIN32
  const std::string command = "cd /d \"" + workDir + "\" && \"" + toolPath + "\" " + args + " <NUL >\"" +
                              outPath + "\" 2>\"" + errPath + "\"";
  // cmd.exe strips the outer quotes of a command line that starts with one.
  const int status = std::system(("\"" + command + "\"").c_str());
  const int exitCode = status;
#else
  const std::string command = "cd '" + workDir + "' && '" + toolPath + "' " + args + " </dev/null >'" +
                              outPath + "' 2>'" + errPath + "'";
  const int status = std::system(command.c_str());
  const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
  return ToolResult{exitCode, ReadBytes(outPath), ReadBytes(errPath)};
}

}  // namespace test
}  // namespace tovrel
