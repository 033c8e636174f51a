// A private temporary directory for the OCR tests: the driver's temporary
// names are counted there, and what is left there afterwards is what the
// driver left.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qvtest {

class TPrivateTempDir {
 public:
  // One per process: CTest runs test cases side by side.
  explicit TPrivateTempDir(const std::string& name)
      : path_(std::filesystem::temp_directory_path() / (name + "_" + std::to_string(ProcessId()))) {
    for (int i = 0; i < 2; ++i)
      if (const char* value = std::getenv(kVariables[i])) previous_[i] = value;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    for (const char* variable : kVariables) Set(variable, path_.string());
  }
  ~TPrivateTempDir() {
    for (int i = 0; i < 2; ++i) Set(kVariables[i], previous_[i]);
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  TPrivateTempDir(const TPrivateTempDir&) = delete;
  TPrivateTempDir& operator=(const TPrivateTempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      names.insert(entry.path().filename().string());
    return names;
  }

 private:
  static unsigned long ProcessId() {
#ifdef _WIN32
    return ::GetCurrentProcessId();
#else
    return static_cast<unsigned long>(::getpid());
#endif
  }
  static void Set(const char* variable, const std::string& value) {
#ifdef _WIN32
    ::SetEnvironmentVariableA(variable, value.empty() ? nullptr : value.c_str());
#else
    if (value.empty())
      ::unsetenv(variable);
    else
      ::setenv(variable, value.c_str(), 1);
#endif
  }
#ifdef _WIN32
  static constexpr const char* kVariables[2] = {"TMP", "TEMP"};
#else
  static constexpr const char* kVariables[2] = {"TMPDIR", "TMPDIR"};
#endif
  std::filesystem::path path_;
  std::string previous_[2];
};

#ifdef _WIN32
// A Unix path of the build tree on Wine's Z: drive.
inline std::string OnWineDrive(const char* unixPath) {
  std::string path = "Z:";
  for (const char* p = unixPath; *p; ++p) path += *p == '/' ? '\\' : *p;
  return path;
}
#endif

}  // namespace qvtest
