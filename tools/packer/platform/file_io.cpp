// What the input file owner does alike on both platforms: handing the file on, and closing it
// when the owner goes. Opening, reading and closing are each platform's own
// (file_io_posix.cpp, file_io_win32.cpp).
#include "platform/file_io.h"

#include <utility>

InputFile::InputFile(InputFile&& other) noexcept { *this = std::move(other); }

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    Close();
    file_ = other.file_;
    open_ = other.open_;
    path_ = std::move(other.path_);
    size_ = other.size_;
    mtime_ = other.mtime_;
    identity_ = other.identity_;
    other.open_ = false;
  }
  return *this;
}

InputFile::~InputFile() { Close(); }

bool InputFile::IsOpen() const { return open_; }

std::string Described(const std::string& path, const char* what) {
  return what == nullptr ? path : std::string("the ") + what + " " + path;
}
