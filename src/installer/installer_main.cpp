#include "installer/installer_main.h"

#include "installer/installer_settings.h"

ExitResult InstallerMain(HMODULE module) {
  InstallerSettings settings;
  ExitResult result;
  if (!Load(settings, module)) {
    result = {EXIT_SETTINGS_FAILED, GetLastError()};
  } else if (settings.unsupported_switch) {
    result = {EXIT_UNSUPPORTED_SWITCH, 0};
  }
  Reset(settings);
  return result;
}
