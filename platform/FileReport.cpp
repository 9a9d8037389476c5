#include "platform/FileReport.h"

#include "platform/PlatformLog.h"

namespace platform {

std::string fileFailureLine(std::string_view action, const std::filesystem::path& path,
                            std::string_view reason) {
  std::string line = "tavrin: could not ";
  line += action;
  line += " \"";
  line += path.string();
  line += "\": ";
  line += reason;
  return line;
}

void logFileFailure(std::string_view action, const std::filesystem::path& path,
                    const std::error_code& error) {
  log(fileFailureLine(action, path, error.message()));
}

}  // namespace platform
