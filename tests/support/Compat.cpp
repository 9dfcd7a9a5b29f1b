#include "tests/support/Compat.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "tests/support/TempDir.h"

namespace vz::test {

std::string CompatDir() {
#ifdef VORZA_COMPAT_DIR
  return VORZA_COMPAT_DIR;
#else
  return "../shared/compat";
#endif
}

std::vector<std::string> CompatTableExpectations() {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(CompatDir() + "/expect")) {
    const std::string name = e.path().filename().string();
    if (name.size() > 5 && name.substr(name.size() - 5) == ".json" &&
        name.find(".ndx.") == std::string::npos)
      out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

nlohmann::json LoadJson(const std::string& path) {
  std::ifstream f(path);
  if (!f) throw std::runtime_error("cannot read " + path);
  return nlohmann::json::parse(f);
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string RawEscape(const std::string& bytes) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c > 0x7E) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string BinPath(const std::string& program) {
#ifdef VORZA_BIN_DIR
  return std::string(VORZA_BIN_DIR) + "/" + program;
#else
  return program;
#endif
}

int RunTool(const std::string& args, std::string* out, std::string* err) {
  return RunCommand(BinPath("vorza-dbf") + " " + args, out, err);
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

}  // namespace vz::test
