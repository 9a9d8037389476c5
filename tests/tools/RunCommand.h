#pragma once
// Runs a shell command and hands back what it printed and how it ended.

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct CommandResult {
  std::string output;
  int status = -1;  // pclose's status: 0 for a clean exit
};

inline CommandResult runCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe)) result.output += line;
  result.status = pclose(pipe);
  return result;
}
