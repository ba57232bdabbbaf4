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

// The packer under test: the Linux build, or the command that LUMORA_PACK_COMMAND names (the
// Windows build under Wine, as the Windows tree's windows_packer_test runs these tests).
std::string PackerCommand();
bool PackerIsWindowsBuild();
// The packer's program file (lumora-pack, or lumora-pack.exe for the Windows build), and the
// command that runs another copy of it the same way (a copy put where an installation puts it).
std::string PackerProgram();
std::string PackerCommandFor(const std::string& program);
// A shell prefix that limits the packer's address space to mib MiB. Wine reserves far more
// address space than such a limit allows, so the Windows build runs without one: its refusals
// are shown, their memory bound only by the Linux build of the same code.
std::string MemoryLimit(int mib);

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
  // The usual pack arguments for stub, archive, setup, cabinet time and output, followed by
  // extra, whose own stub, archive, setup or time take the place of the usual ones.
  std::string Args(const std::string& extra, const std::string& output = "out.exe") const;
  std::vector<std::string> DirectoryEntries() const;
  // The setup cabinet the packer's own writer makes of a file of the fixture (setup.exe is the
  // setup program of setup_), written beside it as NAME.cab.
  std::vector<uint8_t> CabinetOf(const std::string& name);

  std::string dir_;
  std::vector<uint8_t> archive_;
  std::vector<uint8_t> setup_;
};
