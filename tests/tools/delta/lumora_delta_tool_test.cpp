// lumora-delta on folders: an apply that fails (a base changed or missing, a damaged archive)
// exits with its own code and leaves neither the new folder nor its partial build behind; one
// that succeeds leaves exactly the new release.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Files by name with their bytes, and folders by name followed by '/' (empty ones included).
std::map<std::string, std::string> ReadTree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_directory()) {
      files[entry.path().lexically_relative(root).generic_string() + "/"] = "";
      continue;
    }
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    files[entry.path().lexically_relative(root).generic_string()] =
        std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }
  return files;
}

int RunTool(const std::string& arguments) {
  const int status = std::system((std::string(LUMORA_DELTA) + " " + arguments + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(LumoraDeltaTool, ApplyLeavesTheNewReleaseOrNothing) {
  const fs::path work = fs::temp_directory_path() / ("lumora-delta-tool-" + std::to_string(getpid()));
  fs::remove_all(work);
  std::string program(100000, 'p');
  for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<char>(i * 7 % 13);
  std::string program2 = program;
  program2.replace(5000, 10, "new code!!");
  WriteFile(work / "v1/bin/app.exe", program);
  WriteFile(work / "v1/data/keep.txt", "kept");
  WriteFile(work / "v2/bin/app.exe", program2);
  WriteFile(work / "v2/data/keep.txt", "kept");
  WriteFile(work / "v2/added.txt", "added");
  fs::create_directories(work / "v2/logs");  // empty folders: one alone, one nested
  fs::create_directories(work / "v2/data/cache/tmp");
  const fs::path archive = work / "update.lpatch";
  ASSERT_EQ(RunTool("make " + (work / "v1").string() + " " + (work / "v2").string() + " " +
                archive.string() + " >/dev/null"), 0);
  const auto expected = ReadTree(work / "v2");

  const struct {
    const char* name;
    std::function<void(const fs::path& installed, const fs::path& archive)> change;
    int exit_code;
  } cases[] = {
      {"as made", [](const fs::path&, const fs::path&) {}, 0},
      {"a patched base changed",
       [](const fs::path& installed, const fs::path&) { WriteFile(installed / "bin/app.exe", "x"); }, 3},
      {"an unchanged file missing",
       [](const fs::path& installed, const fs::path&) { fs::remove(installed / "data/keep.txt"); }, 3},
      {"the archive cut short",
       [](const fs::path&, const fs::path& a) { fs::resize_file(a, fs::file_size(a) - 8); }, 4},
      {"not an archive", [](const fs::path&, const fs::path& a) { WriteFile(a, "hello"); }, 4},
  };
  for (const auto& c : cases) {
    const fs::path installed = work / "installed", copy = work / "copy.lpatch", out = work / "out";
    fs::remove_all(installed);
    fs::remove_all(out);
    fs::copy(work / "v1", installed, fs::copy_options::recursive);
    fs::copy_file(archive, copy, fs::copy_options::overwrite_existing);
    c.change(installed, copy);
    const auto before = ReadTree(installed);
    EXPECT_EQ(RunTool("apply " + installed.string() + " " + copy.string() + " " + out.string()),
              c.exit_code) << c.name;
    EXPECT_TRUE(ReadTree(installed) == before) << c.name << ": the previous release changed";
    EXPECT_FALSE(fs::exists(out.string() + ".partial")) << c.name;
    if (c.exit_code == 0) {
      EXPECT_TRUE(ReadTree(out) == expected) << c.name;
    } else {
      EXPECT_FALSE(fs::exists(out)) << c.name;
    }
  }
  // A new folder that already exists is never written into.
  fs::create_directories(work / "taken");
  EXPECT_EQ(RunTool("apply " + (work / "v1").string() + " " + archive.string() + " " +
                (work / "taken").string()), 1);
  EXPECT_TRUE(fs::is_empty(work / "taken"));
  fs::remove_all(work);
}

}  // namespace
