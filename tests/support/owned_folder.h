// A folder on disk owned by an object, for the tests and the benchmarks alike.
#pragma once

#include <filesystem>
#include <system_error>
#include <utility>

namespace testing_support {

// The folder `path`, removed with all it holds when the object goes (a failure to remove it is
// ignored: it is scratch space).
class OwnedFolder {
 public:
  explicit OwnedFolder(std::filesystem::path path) : path_(std::move(path)) {}
  ~OwnedFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  OwnedFolder(const OwnedFolder&) = delete;
  OwnedFolder& operator=(const OwnedFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support
