// A scratch directory with a stub, an archive and a setup program, and a way to run the packer
// on them as a release engineer would.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Bytes that differ at every position and from any other seed, so that a misplaced copy shows.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);
// The PE checksum computed the way the format's description states it, word by word, with the
// carry folded in after every addition: independent of the packer's streaming version.
uint32_t ReferenceChecksum(std::vector<uint8_t> file);

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
RunResult RunProgram(const std::string& command);

class PackFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Runs lumora-pack with the given arguments (already quoted where needed), after the shell
  // commands in limits (such as a ulimit).
  RunResult Pack(const std::string& args, const std::string& limits = "");
  // The usual pack arguments for stub, archive, setup and output, followed by extra.
  std::string Args(const std::string& extra, const std::string& output = "out.exe") const;
  std::vector<std::string> DirectoryEntries() const;

  std::string dir_;
  std::vector<uint8_t> archive_;
  std::vector<uint8_t> setup_;
};
