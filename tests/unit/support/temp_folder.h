#pragma once
// A scratch folder for one test, removed afterwards.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace fornax::test {

class TTempFolder {
 public:
  TTempFolder() {
    std::string pattern = ::testing::TempDir() + "fornax-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << std::strerror(errno);
    FRoot = pattern;
  }
  ~TTempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FRoot, ignored);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::string& Root() const { return FRoot; }
  std::string Path(const std::string& relative) const { return FRoot + "/" + relative; }

  // Writes a file, making the folders on its way.
  std::string Write(const std::string& relative, const std::string& content) const {
    const std::string path = Path(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string Folder(const std::string& relative) const {
    const std::string path = Path(relative);
    std::filesystem::create_directories(path);
    return path;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string FRoot;
};

}  // namespace fornax::test
