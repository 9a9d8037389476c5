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

// Why a file that could not be loaded was not: the system's reason when it cannot be reached, "not a
// regular file" for anything other than one, else contentReason (what was wrong inside it).
std::string loadFailureReason(const std::filesystem::path& path, std::string_view contentReason);

}  // namespace platform
