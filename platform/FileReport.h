// The one log line a failed file operation leaves: what was tried, on which path, and the system's reason.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace platform {

// "tavrin: could not <action> "<path>": <reason>", e.g. action "save the preset".
std::string fileFailureLine(std::string_view action, const std::filesystem::path& path,
                            std::string_view reason);

// Logs fileFailureLine with error's message as the reason.
void logFileFailure(std::string_view action, const std::filesystem::path& path, const std::error_code& error);

}  // namespace platform
