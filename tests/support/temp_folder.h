// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace qz::testing {

class TempFolder {
 public:
  TempFolder() : path_((std::filesystem::temp_directory_path() / "qzconfig.XXXXXX").string()) {
    if (::mkdtemp(path_.data()) == nullptr) std::abort();
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder() { std::filesystem::remove_all(path_); }

  const std::string& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const {
    return std::filesystem::path(path_) / name;
  }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  std::string Write(std::string_view name, std::string_view text) const {
    std::ofstream(File(name), std::ios::binary) << text;
    return File(name);
  }
  std::string Read(std::string_view name) const {
    std::ifstream in(File(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  long EntryCount() const { return std::distance(std::filesystem::directory_iterator(path_), {}); }

 private:
  std::string path_;
};

}  // namespace qz::testing
