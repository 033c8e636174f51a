#include "launcher_command.h"

namespace quorvex::gocr039 {

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  std::string result = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  if (result.size() >= 2 && result.front() == '"' && result.back() == '"')
    result = result.substr(1, result.size() - 2);
  return result;
}

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

}  // namespace

std::string ArgumentsOf(const std::string& commandLine) {
  std::size_t end = 0;
  if (!commandLine.empty() && commandLine[0] == '"') {
    end = commandLine.find('"', 1);
    end = end == std::string::npos ? commandLine.size() : end + 1;
  } else {
    end = commandLine.find_first_of(" \t");
    if (end == std::string::npos) end = commandLine.size();
  }
  const std::size_t start = commandLine.find_first_not_of(" \t", end);
  return start == std::string::npos ? std::string() : commandLine.substr(start);
}

bool SplitImageAndOutput(const std::string& arguments, TImageAndOutput& files) {
  // Windows names cannot hold '>', so the token is the only one.
  const std::size_t token = arguments.find(" > ");
  if (token == std::string::npos) return false;
  files.image = Trimmed(arguments.substr(0, token));
  files.output = Trimmed(arguments.substr(token + 3));
  return !files.image.empty() && !files.output.empty();
}

std::string GocrCommandLine(const std::string& gocrPath, const TImageAndOutput& files) {
  return Quoted(gocrPath) + " -i " + Quoted(files.image) + " -o " + Quoted(files.output);
}

}  // namespace quorvex::gocr039
