#include "tests/support/TempDir.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/engine_context.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "platform/codepage.h"
#include "tests/support/DbfBuilder.h"

namespace vz::test {

namespace {

std::string DefaultParent() {
  const char* base = std::getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

}  // namespace

TempDir::TempDir(const std::string& parent) : TempDir(false) {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  std::string tmpl = parent + "/vorza-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed in " + parent);
  path_ = buf.data();
}

TempDir::TempDir(bool enter) {
  std::string tmpl = DefaultParent() + "/vorza-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
  if (enter) {
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!previous_.empty()) std::filesystem::current_path(previous_, ec);
  // Give back write permission that a test may have taken away.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

void ResetEngineForTest() {
  Engine().Reset();
  SetRaiseErrors(true);
}

int RunCommand(const std::string& command, std::string* out, std::string* err) {
  char outName[] = "/tmp/vorza-out-XXXXXX";
  char errName[] = "/tmp/vorza-err-XXXXXX";
  const int outFd = mkstemp(outName);
  const int errFd = mkstemp(errName);
  close(outFd);
  close(errFd);
  const std::string full = command + " >" + outName + " 2>" + errName;
  const int status = std::system(full.c_str());
  if (out) *out = ReadText(outName);
  if (err) *err = ReadText(errName);
  unlink(outName);
  unlink(errName);
  if (status == -1) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace vz::test
