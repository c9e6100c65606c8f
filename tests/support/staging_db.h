// Reading and preparing a test's embedded database between runs of the
// program. Each call opens and closes its own connection: the embedded
// engine lets one process at a time hold the file.
#pragma once

#include <string>
#include <vector>

namespace stagingdb {

using Rows = std::vector<std::vector<std::string>>;

// Every value as text: NULL as "<null>", timestamps as
// "yyyy-mm-dd hh:mm:ss", numbers as the engine prints them.
Rows Query(const std::string& database, const std::string& select);
// One statement, committed.
void Execute(const std::string& database, const std::string& statement);
long Count(const std::string& database, const std::string& table);

}  // namespace stagingdb
