// What pack writes to, and how: only a regular file is ever replaced (a device node, a FIFO, a
// socket or a directory at the output path is refused and left as it was); a folder it cannot
// write to is named with what to do; the installer reaches the disk before its name does; a write
// cut short reports the system's own error and leaves nothing behind.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pack_fixture.h"

namespace {

class OutputSafety : public PackFixture {};

// The type of what is at path, from lstat: 'f' file, 'c' character device, 'p' FIFO, 's' socket,
// 'd' directory, '-' nothing.
char TypeAt(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return '-';
  if (S_ISREG(info.st_mode)) return 'f';
  if (S_ISCHR(info.st_mode)) return 'c';
  if (S_ISFIFO(info.st_mode)) return 'p';
  if (S_ISSOCK(info.st_mode)) return 's';
  if (S_ISDIR(info.st_mode)) return 'd';
  return '?';
}

TEST_F(OutputSafety, OnlyARegularFileIsReplaced) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0700), 0);
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  const std::string socket_path = Path("socket");
  ASSERT_LT(socket_path.size(), sizeof(address.sun_path));
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  close(listener);
  // A device node: as root, one of its own in the scratch folder (with /dev/null's numbers), which
  // a faulty packer would replace there and nowhere else; otherwise /dev/null itself, which only
  // root could replace.
  const bool root = geteuid() == 0;
  if (root) ASSERT_EQ(mknod(Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  struct Case {
    std::string output;
    char type;
    const char* words;
  };
  std::vector<Case> cases = {
      {root ? Path("null") : "/dev/null", 'c', "is a character device, not a regular file"},
      {Path("fifo"), 'p', "is a FIFO, not a regular file"},
      {Path("socket"), 's', "is a socket, not a regular file"},
      {Path("folder"), 'd', "is a directory, not a regular file"},
  };
  if (PackerIsWindowsBuild()) {
    // Windows has no FIFOs or sockets in a folder; Wine opens neither as a file, so the Windows
    // build meets them only under Wine and cannot tell what they are. Devices and folders it
    // refuses as Windows presents them.
    for (Case& c : cases) {
      if (c.type == 'c') c.words = "is a device or a pipe, not a regular file";
    }
    cases.erase(std::remove_if(cases.begin(), cases.end(),
                               [](const Case& c) { return c.type == 'p' || c.type == 's'; }),
                cases.end());
  }
  const std::vector<std::string> before = DirectoryEntries();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    // Nobody reads the FIFO: an open that waited for a reader would hang, and the time limit
    // turns that into a failure.
    const RunResult r = RunProgram("cd '" + dir_ + "' && timeout 120 " + PackerCommand() + " " +
                                   Args("", c.output));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("the output "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.words), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("; name a file for the installer"), std::string::npos) << r.err;
    EXPECT_EQ(TypeAt(c.output), c.type) << "left as it was";
    EXPECT_EQ(DirectoryEntries(), before) << "nothing written beside it";
  }
}

TEST_F(OutputSafety, AFolderThatCannotBeWrittenIsNamed) {
  const RunResult r = Pack(Args("", "missing/out.exe"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write into the folder missing: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("; choose an --output in a folder you can write to"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("beside"), std::string::npos) << "no temporary file named: " << r.err;
}

TEST_F(OutputSafety, ShortWriteReportsTheSystemsError) {
  if (PackerIsWindowsBuild()) GTEST_SKIP() << "a file size limit is a POSIX resource limit";
  // A file size limit cuts the installer's write short; with SIGXFSZ ignored, write returns
  // what fit and the next write fails with EFBIG, which must be the reason given.
  WriteFileBytes(Path("out.exe"), {'o', 'l', 'd'});
  const std::vector<std::string> before = DirectoryEntries();
  const RunResult r = Pack(Args("--setup-type BN"), "ulimit -f 64; trap '' XFSZ; ");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write out.exe: File too large"), std::string::npos) << r.err;
  EXPECT_EQ(DirectoryEntries(), before) << "no temporary file left";
  EXPECT_EQ(ReadFileBytes(Path("out.exe")), (std::vector<uint8_t>{'o', 'l', 'd'}));
}

TEST_F(OutputSafety, InstallerReachesTheDiskBeforeItsName) {
  if (PackerIsWindowsBuild()) GTEST_SKIP() << "strace follows Linux system calls";
  // The system calls, in order: the installer's data synced, then renamed over the output, then
  // the folder synced so that the new name lasts.
  const RunResult r = Pack(Args("--quiet --setup-type BN"),
                           "strace -f -qq -e trace=fsync,fdatasync,rename,renameat,renameat2 "
                           "-o '" + Path("calls") + "' ");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> log = ReadFileBytes(Path("calls"));
  const std::string calls(log.begin(), log.end());
  const size_t rename_at = calls.find("out.exe.partial-");
  ASSERT_NE(rename_at, std::string::npos) << calls;
  const size_t sync_before = calls.rfind("fsync(", rename_at);
  const size_t sync_after = calls.find("fsync(", rename_at);
  EXPECT_NE(sync_before, std::string::npos) << calls;
  EXPECT_NE(sync_after, std::string::npos) << calls;
}

}  // namespace
