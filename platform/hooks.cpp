#include "platform/hooks.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace vz::platform {
namespace {

struct Hooks {
  HaltPresenter halt;
  MessagePresenter message;
  Terminator terminator;
  StatusWindowFactory status;
};

// The hooks installed in this process. They are the program's way to the
// user, not engine state: the platform layer lies below the engine and is
// used without it (the catalogue tool, the forms), so it keeps them itself,
// and the engine context's Reset leaves them to whoever installed them.
Hooks& TheHooks() {
  static Hooks hooks;
  return hooks;
}

// Every byte of a message, one line break per CR LF, ended by a line break.
void WriteToStandardError(const std::string& message) {
  std::string text = ToLines(VisibleText(message));
  if (text.empty() || text.back() != '\n') text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

std::string ToLines(const std::string& message) {
  std::string out;
  out.reserve(message.size());
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r') {
      out += '\n';
      if (i + 1 < message.size() && message[i + 1] == '\n') ++i;
    } else {
      out += message[i];
    }
  }
  return out;
}

std::string VisibleText(std::string_view message) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(message.size());
  for (const char c : message) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && c != '\r' && c != '\n' && c != '\t') || b == 0x7F) {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

StatusWindowFactory SetStatusWindowFactory(StatusWindowFactory factory) {
  return std::exchange(TheHooks().status, std::move(factory));
}

std::unique_ptr<StatusWindow> CreateStatusWindow(const std::string& caption) {
  return TheHooks().status ? TheHooks().status(caption) : nullptr;
}

HaltPresenter SetHaltPresenter(HaltPresenter presenter) {
  return std::exchange(TheHooks().halt, std::move(presenter));
}

MessagePresenter SetMessagePresenter(MessagePresenter presenter) {
  return std::exchange(TheHooks().message, std::move(presenter));
}

Terminator SetTerminator(Terminator terminator) {
  return std::exchange(TheHooks().terminator, std::move(terminator));
}

void PresentHalt(const std::string& caption, const std::string& message) {
  if (TheHooks().halt) {
    TheHooks().halt(caption, message);
    return;
  }
  WriteToStandardError(message);
}

void ShowMessage(const std::string& message) {
  if (TheHooks().message) {
    TheHooks().message(message);
    return;
  }
  WriteToStandardError(message);
}

int ExitStatusFor(int code) {
  const int status = ((code % 256) + 256) % 256;
  return status == 0 ? 255 : status;
}

void Terminate(int code) {
  const int status = ExitStatusFor(code);
  if (TheHooks().terminator) TheHooks().terminator(status);
  std::fflush(nullptr);
  std::exit(status);
}

}  // namespace vz::platform
