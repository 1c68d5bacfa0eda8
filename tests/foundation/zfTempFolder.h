// A new folder for a test, under the system's temporary folder.
#pragma once
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace zf::test {

// Makes "<temp>/<aPrefix><pid>_XXXXXX" with mkdtemp and answers it: a folder no other process or
// earlier run can have made (a name from the process ID alone can meet a folder an earlier process
// of the same ID left behind, tables and all). Raises std::system_error when it cannot be made.
inline std::filesystem::path MakeTempFolder(const std::string& aPrefix) {
  std::string name = (std::filesystem::temp_directory_path() / (aPrefix + std::to_string(::getpid()) + "_XXXXXX")).string();
  if (!::mkdtemp(name.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp " + name);
  return name;
}

}  // namespace zf::test
