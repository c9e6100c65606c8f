// The directory in which a package is split or a retorno is assembled.
#pragma once

#include <string>

// The directory part of path, ending in '/'. A bare file name means the
// current directory, spelled "./" so that no caller ever turns it into the
// root directory by appending a separator to an empty text.
std::string WorkDirectory(const std::string& path);
