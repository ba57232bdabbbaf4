#include "pack_fixture.h"

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/file_io.h"
#include "cabinet/setup_cabinet.h"

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (uint8_t& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return bytes;
}

uint32_t ReferenceChecksum(std::vector<uint8_t> file) {
  const uint32_t nt = file[60] | file[61] << 8 | file[62] << 16 | file[63] << 24;
  const size_t field = nt + 24 + 64;
  for (size_t i = 0; i < 4; ++i) file[field + i] = 0;
  uint32_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    const uint32_t word = file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + static_cast<uint32_t>(file.size());
}

std::string PackerCommand() {
  const char* command = std::getenv("LUMORA_PACK_COMMAND");
  return command != nullptr && command[0] != '\0' ? command : LUMORA_PACK;
}

bool PackerIsWindowsBuild() { return PackerCommand() != LUMORA_PACK; }

// The Windows build's command ends with the program it runs under Wine.
std::string PackerProgram() {
  const std::string command = PackerCommand();
  return command.substr(command.rfind(' ') + 1);
}

std::string PackerCommandFor(const std::string& program) {
  const std::string command = PackerCommand();
  return command.substr(0, command.rfind(' ') + 1) + program;
}

std::string MemoryLimit(int mib) {
  return PackerIsWindowsBuild() ? "" : "ulimit -v " + std::to_string(mib * 1024) + "; ";
}

RunResult RunProgram(const std::string& command) {
  char out_name[] = "/tmp/lumora-pack-out-XXXXXX";
  char err_name[] = "/tmp/lumora-pack-err-XXXXXX";
  close(mkstemp(out_name));
  close(mkstemp(err_name));
  RunResult result;
  const int raw = std::system((command + " >" + out_name + " 2>" + err_name).c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const std::vector<uint8_t> out = ReadFileBytes(out_name), err = ReadFileBytes(err_name);
  result.out.assign(out.begin(), out.end());
  result.err.assign(err.begin(), err.end());
  unlink(out_name);
  unlink(err_name);
  return result;
}

void PackFixture::SetUp() {
  char name[] = "/tmp/lumora-pack-test-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  dir_ = name;
  ASSERT_FALSE(ReadFileBytes(LUMORA_STUB).empty())
      << "no bare stub at " << LUMORA_STUB << "; build the Windows tree first (tools/build)";
  // Sizes that are not multiples of anything, so that padding and alignment show. The setup
  // program is a real x64 program (one that is never run) with pattern bytes after its image,
  // as the packer takes only a 64-bit Windows program as the setup program.
  archive_ = PatternBytes(3 * 4096 + 123, 1);
  setup_ = ReadFileBytes(LUMORA_FOREIGN_DIR "/x64.exe");
  ASSERT_GT(setup_.size(), 512u) << "no x64 program at " << LUMORA_FOREIGN_DIR;
  ASSERT_LT(setup_.size(), 70001u);
  const std::vector<uint8_t> tail = PatternBytes(70001 - setup_.size(), 2);
  setup_.insert(setup_.end(), tail.begin(), tail.end());
  WriteFileBytes(Path("app.7z"), archive_);
  WriteFileBytes(Path("setup.exe"), setup_);
}

std::vector<uint8_t> PackFixture::CabinetOf(const std::string& name) {
  std::string error;
  InputFile file;
  EXPECT_TRUE(file.Open(Path(name), error)) << error;
  EXPECT_TRUE(WriteSetupCabinet(file, 1700000000, CabinetCompression{}, Path(name + ".cab"), error))
      << error;
  return ReadFileBytes(Path(name + ".cab"));
}

void PackFixture::TearDown() {
  if (!dir_.empty()) EXPECT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0) << dir_;
}

RunResult PackFixture::Pack(const std::string& args, const std::string& limits) {
  return RunProgram("cd '" + dir_ + "' && " + limits + PackerCommand() + " " + args);
}

std::string PackFixture::Args(const std::string& extra, const std::string& output) const {
  // Each option may be given once: extra's own stub, archive, setup or time take the place of
  // the usual ones.
  auto given = [&](const std::string& name) {
    for (size_t at = extra.find(name); at != std::string::npos; at = extra.find(name, at + 1)) {
      const size_t end = at + name.size();
      if ((at == 0 || extra[at - 1] == ' ') && (end == extra.size() || extra[end] == ' ' || extra[end] == '=')) {
        return true;
      }
    }
    return false;
  };
  std::string args = "pack";
  const std::pair<const char*, std::string> usual[] = {{"--stub", LUMORA_STUB},
                                                       {"--archive", "app.7z"},
                                                       {"--setup", "setup.exe"},
                                                       {"--cabinet-time", "1700000000"}};
  for (const auto& [name, value] : usual) {
    if (!given(name)) args += std::string(" ") + name + " " + value;
  }
  return args + " --output " + output + " " + extra;
}

std::vector<std::string> PackFixture::DirectoryEntries() const {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir_.c_str())) {
    while (dirent* e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}
