#include <string>
#include <vector>

#include "main/program.h"

int main(int argc, char** argv) {
  return RunProgram(std::vector<std::string>(argv + 1, argv + argc));
}
