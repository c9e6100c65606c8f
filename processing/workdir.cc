#include "processing/workdir.h"

#include "qsmlib/platform/fs.h"

std::string WorkDirectory(const std::string& path) {
  std::string dir = fs_layer::ExtractFilePath(path);
  return dir.empty() ? std::string("./") : dir;
}
