#include "setup_cabinet.h"

#include <libgcab.h>

#include <algorithm>

namespace {

// Owners for the GLib objects and errors that one cabinet takes.
template <typename T>
struct GObjectPtr {
  T* p = nullptr;
  explicit GObjectPtr(T* object) : p(object) {}
  GObjectPtr(const GObjectPtr&) = delete;
  GObjectPtr& operator=(const GObjectPtr&) = delete;
  ~GObjectPtr() {
    if (p != nullptr) g_object_unref(p);
  }
};

struct ErrorHolder {
  GError* error = nullptr;
  ErrorHolder() = default;
  ErrorHolder(const ErrorHolder&) = delete;
  ErrorHolder& operator=(const ErrorHolder&) = delete;
  ~ErrorHolder() {
    if (error != nullptr) g_error_free(error);
  }
  std::string Text() const { return error != nullptr ? error->message : "unknown error"; }
};

}  // namespace

int64_t ClampCabinetTime(int64_t unix_time) {
  return std::clamp(unix_time, kEarliestCabinetTime, kLatestCabinetTime);
}

bool WriteSetupCabinet(const std::string& setup_path, int64_t unix_time,
                       const std::string& cabinet_path, std::string& error) {
  ErrorHolder failure;
  GObjectPtr<GFile> input(g_file_new_for_path(setup_path.c_str()));
  GObjectPtr<GCabFile> file(gcab_file_new_with_file("setup.exe", input.p));
  GObjectPtr<GCabFolder> folder(gcab_folder_new(GCAB_COMPRESSION_MSZIP));
  if (!gcab_folder_add_file(folder.p, file.p, FALSE, nullptr, &failure.error)) {
    error = "cannot add " + setup_path + " to a cabinet: " + failure.Text();
    return false;
  }
  // Set after adding: adding a file reads the attributes and time of the file on disk.
  gcab_file_set_attributes(file.p, kSetupAttributes);
  GDateTime* time = g_date_time_new_from_unix_utc(ClampCabinetTime(unix_time));
  gcab_file_set_date_time(file.p, time);
  g_date_time_unref(time);

  GObjectPtr<GCabCabinet> cabinet(gcab_cabinet_new());
  if (!gcab_cabinet_add_folder(cabinet.p, folder.p, &failure.error)) {
    error = "cannot make a cabinet: " + failure.Text();
    return false;
  }
  GObjectPtr<GFile> output_file(g_file_new_for_path(cabinet_path.c_str()));
  GObjectPtr<GFileOutputStream> output(g_file_replace(output_file.p, nullptr, FALSE,
                                                      G_FILE_CREATE_PRIVATE, nullptr,
                                                      &failure.error));
  if (output.p == nullptr) {
    error = "cannot create " + cabinet_path + ": " + failure.Text();
    return false;
  }
  if (!gcab_cabinet_write_simple(cabinet.p, G_OUTPUT_STREAM(output.p), nullptr, nullptr, nullptr,
                                 &failure.error) ||
      !g_output_stream_close(G_OUTPUT_STREAM(output.p), nullptr, &failure.error)) {
    error = "cannot write the setup cabinet: " + failure.Text();
    return false;
  }
  return true;
}
