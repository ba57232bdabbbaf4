#include "reports/update_report.h"

#include "platform/escaped_text.h"

std::string UpdateText(const UpdateFacts& f) {
  if (!f.is_update) return "";
  std::string text = Escaped(UpdateSummary(f)) + "\nsetup program's patch: " +
                     Escaped(f.setup_patch) + "\n";
  if (!f.tried) return text;
  text += "against " + Escaped(f.against) + ": ";
  if (f.gives_new_release) {
    return text + "gives exactly the new release " + Escaped(f.new_version) + " (" +
           std::to_string(f.new_files) + " files, every one verified)\n";
  }
  return text + "does not give the new release: the setup program would exit with " +
         std::to_string(f.setup_exit_code) + " (" + Escaped(f.reason) + ")\n";
}

std::string UpdateJson(const UpdateFacts& f) {
  if (!f.is_update) return "null";
  std::string out = "{\"previous_version\": " +
                    (f.previous_version.empty() ? std::string("null")
                                                : JsonString(f.previous_version)) +
                    ", \"readable\": " + (f.readable ? "true" : "false");
  if (f.readable) {
    out += ", \"patched\": " + std::to_string(f.patched) + ", \"added\": " +
           std::to_string(f.added) + ", \"removed\": " + std::to_string(f.removed) +
           ", \"unchanged\": " + std::to_string(f.unchanged) + ", \"new_bytes\": " +
           std::to_string(f.new_bytes);
  } else {
    out += ", \"problem\": " + JsonString(f.problem);
  }
  if (f.tried) {
    out += ", \"against\": {\"previous\": " + JsonString(f.against) + ", \"gives_new_release\": " +
           (f.gives_new_release ? "true" : "false") + ", \"setup_exit_code\": " +
           (f.gives_new_release ? std::string("null") : std::to_string(f.setup_exit_code)) +
           ", \"reason\": " + (f.gives_new_release ? std::string("null") : JsonString(f.reason)) +
           ", \"new_version\": " +
           (f.gives_new_release ? JsonString(f.new_version) : std::string("null")) +
           ", \"files\": " + std::to_string(f.new_files) + "}";
  }
  return out + ", \"setup_patch\": " + JsonString(f.setup_patch) + ", \"summary\": " +
         JsonString(UpdateSummary(f)) + "}";
}
