// A standard file (fopen) that closes when its handle goes.
#pragma once

#include <cstdio>
#include <memory>

struct CFileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using CFile = std::unique_ptr<FILE, CFileCloser>;

// The file at path opened with mode; empty when it cannot be opened.
inline CFile openCFile(const char* path, const char* mode) {
  return CFile(std::fopen(path, mode));
}
