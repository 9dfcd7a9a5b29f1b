// The writing commands: append, replace, delete, recall, pack. They go
// through the engine's write paths as a catalogue editor would: the table
// opened shared (pack: exclusively), the table lock around an append, the
// record lock around a change, every named index open so the engine keeps
// it in step, memo texts written to the memo file. Everything given on the
// command line is checked before anything is written.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/text_search.h"
#include "engine/trim.h"
#include "index/expr.h"
#include "index/indexes.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "tools/commands.h"

namespace vz::tool {
namespace {

constexpr int kDataError = 65;

// A bad field, value or record number: a message, nothing written.
struct DataError {
  std::string message;
};

// The arguments of a writing command: words, and the --index files.
struct WriteArgs {
  std::vector<std::string> words;
  std::vector<std::string> indexes;
};

bool SplitWriteArgs(const std::vector<std::string>& args, WriteArgs& out) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--index") {
      if (i + 1 >= args.size()) return false;
      out.indexes.push_back(args[++i]);
    } else if (args[i].rfind("--", 0) == 0) {
      return false;
    } else {
      out.words.push_back(args[i]);
    }
  }
  return true;
}

// Opens a table for writing in work area 1: OEM text, deleted records
// reachable, dates kept with their century between the record and the
// engine's display form.
void OpenForWriting(const std::string& table, bool exclusive) {
  vz::EngineSettings& settings = vz::Engine().Settings;
  settings.AnsiTables = false;
  settings.HideDeleted = false;
  vz::SetCentury(true);
  vz::ScopedSetting<bool> fix(settings.FixRecCount, true);
  vz::Select(1);
  vz::USE(table + (exclusive ? " EXCLUSIVE" : ""));
}

// Opens the named indexes as orders 1, 2, ...; engine errors end the program.
void OpenIndexesForWriting(const std::vector<std::string>& indexes) {
  int order = 0;
  for (const std::string& ndx : indexes) {
    vz::SetIndexTo(ndx, nullptr, ++order);
    vz::DispatchPending();
  }
  if (order > 0) {
    vz::Set_Order_To(1);
    vz::DispatchPending();
  }
}

std::int64_t RecordNumberOf(const std::string& text) {
  std::size_t used = 0;
  long long n = 0;
  try {
    n = std::stoll(text, &used);
  } catch (...) {
    used = 0;
  }
  if (used == 0 || used != text.size()) throw DataError{"not a record number: " + text};
  vz::WorkArea& w = *vz::CurrentTable();
  vz::RefreshRecCount(w);
  if (n < 1 || n > w.RecCount)
    throw DataError{"record " + text + " is not in " + w.FileName + " (" +
                    std::to_string(w.RecCount) + " records)"};
  return n;
}

// One FIELD=VALUE, checked against its field and ready to be stored.
struct Assignment {
  int field = 0;  // 1-based
  char type = 'C';
  // C: ANSI, cut; D: YYYYMMDD or blanks; L: T, F or ?; M: the memo's bytes.
  std::string text;
  // M: a text to convert to the table's code page (not the bytes of a file).
  bool convertMemo = true;
  double number = 0;  // N, F
};

// A decimal number: an optional sign, digits, an optional point and digits.
bool ParseDecimal(const std::string& text, double& out) {
  const std::string t = vz::Trim(text);
  std::size_t i = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
  bool digits = false, point = false;
  for (; i < t.size(); ++i) {
    if (t[i] >= '0' && t[i] <= '9')
      digits = true;
    else if (t[i] == '.' && !point)
      point = true;
    else
      return false;
  }
  if (!digits) return false;
  out = std::strtod(t.c_str(), nullptr);
  return std::isfinite(out);
}

Assignment CheckAssignment(const std::string& word) {
  const std::size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0) throw DataError{"not FIELD=VALUE: " + word};
  const std::string name = word.substr(0, eq);
  const std::string value = word.substr(eq + 1);
  vz::WorkArea& w = *vz::CurrentTable();
  Assignment a;
  a.field = name.size() <= 10 ? vz::FieldNo(name) : 0;
  if (a.field == 0) throw DataError{"no field " + name + " in " + w.FileName};
  const vz::FieldDesc& f = w.Fields[static_cast<std::size_t>(a.field - 1)];
  a.type = f.Type;
  const auto bad = [&](const std::string& why) { return DataError{"field " + name + ": " + why}; };
  switch (f.Type) {
    case 'C': a.text = vz::platform::Utf8ToAnsi(value).substr(0, f.Len); break;
    case 'N':
    case 'F': {
      if (!ParseDecimal(value, a.number)) throw bad("not a decimal number: " + value);
      // The text the engine stores must fit the field.
      std::string shown;
      if (f.Dec > 0) {
        std::uint8_t real[6];
        if (!vz::DoubleToReal48(a.number, real)) throw bad("the number is too large: " + value);
        char buffer[400];
        std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(f.Dec),
                      vz::Real48ToDouble(real));
        shown = buffer;
      } else {
        const double whole = std::trunc(a.number);
        if (whole > 2147483647.0 || whole < -2147483648.0)
          throw bad("the number is too large: " + value);
        shown = std::to_string(static_cast<long long>(whole));
      }
      if (shown.size() > f.Len)
        throw bad(value + " does not fit " + std::to_string(f.Len) + " characters");
      break;
    }
    case 'D':
      if (value.empty()) {
        a.text.assign(8, ' ');
      } else if (value.size() != 8 || vz::JulianOfStored(value) == 0 ||
                 value.compare(0, 4, "0000") == 0) {
        throw bad("not a date YYYYMMDD: " + value);
      } else {
        a.text = value;
      }
      break;
    case 'L':
      if (value != "T" && value != "F" && value != "?") throw bad("not T, F or ?: " + value);
      a.text = value;
      break;
    case 'M':
      if (!w.Memo) throw bad(w.FileName + " has no memo file");
      if (!value.empty() && value[0] == '@') {
        std::ifstream in(value.substr(1), std::ios::binary);
        if (!in) throw bad("cannot read " + value.substr(1));
        a.text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) throw bad("cannot read " + value.substr(1));
        a.convertMemo = false;
      } else {
        a.text = vz::platform::Utf8ToAnsi(value);
      }
      break;
    default: throw bad(std::string("fields of type ") + f.Type + " cannot be written");
  }
  return a;
}

// A logical field's character, written as given after the record: the
// native form knows true and false only, and keeps a stored "?" that reads
// as false.
struct Logical {
  int field;
  std::string value;
};

// Stores checked values in the current record's native form (memo texts
// are written to the memo file here). Returns the logical fields.
std::vector<Logical> Assign(const std::vector<Assignment>& values) {
  vz::WorkArea& w = *vz::CurrentTable();
  std::vector<Logical> logicals;
  for (const Assignment& a : values) {
    const vz::FieldDesc& f = w.Fields[static_cast<std::size_t>(a.field - 1)];
    std::uint8_t* slot = vz::FieldAddress(a.field);
    switch (a.type) {
      case 'C':
        slot[0] = f.Len;
        std::memset(slot + 1, ' ', f.Len);
        std::memcpy(slot + 1, a.text.data(), a.text.size());
        break;
      case 'N':
      case 'F':
        if (f.Dec > 0)
          vz::DoubleToReal48(a.number, slot);
        else
          vz::SetNativeInt(slot, static_cast<std::int32_t>(std::trunc(a.number)));
        break;
      case 'D': {
        const std::string shown = vz::StoredToDisplay(a.text.c_str());
        slot[0] = static_cast<std::uint8_t>(shown.size());
        std::memset(slot + 1, ' ', 10);
        std::memcpy(slot + 1, shown.data(), std::min<std::size_t>(shown.size(), 10));
        break;
      }
      case 'L':
        slot[0] = a.text == "T";
        logicals.push_back({a.field, a.text});
        break;
      case 'M': {
        const std::int64_t block = a.text.empty() ? 0 : vz::WriteMemoText(a.text, a.convertMemo);
        vz::DispatchPending();
        vz::SetNativeInt(slot, static_cast<std::int32_t>(block));
        break;
      }
      default: break;
    }
  }
  return logicals;
}

// Takes a lock, waiting up to ten seconds while another program holds it.
bool WaitForLock(const std::function<bool()>& take) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    if (take()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void LockOrEnd(const std::function<bool()>& take, const std::string& what) {
  if (!WaitForLock(take))
    vz::SetError(33,
                 what + " of " + vz::CurrentTable()->FileName + " stays locked by another program");
}

int DataFailure(const char* command, const DataError& e) {
  std::fprintf(stderr, "vorza-dbf %s: %s\n", command, e.message.c_str());
  vz::CloseAll();
  return kDataError;
}

}  // namespace

int RunAppend(const std::vector<std::string>& argv) {
  WriteArgs a;
  if (!SplitWriteArgs(argv, a) || a.words.size() < 2) return -1;
  OpenForWriting(a.words[0], false);
  std::vector<Assignment> values;
  try {
    for (std::size_t i = 1; i < a.words.size(); ++i) values.push_back(CheckAssignment(a.words[i]));
  } catch (const DataError& e) {
    return DataFailure("append", e);
  }
  OpenIndexesForWriting(a.indexes);
  LockOrEnd([] { return vz::ALock(); }, "The table");
  // A new record starts blank, stored bytes included: fields not named are
  // written as blanks.
  vz::WorkArea& w = *vz::CurrentTable();
  std::fill(w.RawRec.begin(), w.RawRec.end(), static_cast<std::uint8_t>(' '));
  vz::ClearRecord();
  const std::vector<Logical> logicals = Assign(values);
  vz::Append();
  const std::int64_t recno = vz::RecNo();
  for (const Logical& l : logicals) vz::Poke(l.field, recno, l.value);
  vz::Unlock();
  std::printf("%lld\n", static_cast<long long>(recno));
  vz::CloseAll();
  return 0;
}

int RunReplace(const std::vector<std::string>& argv) {
  WriteArgs a;
  if (!SplitWriteArgs(argv, a) || a.words.size() < 3) return -1;
  OpenForWriting(a.words[0], false);
  std::int64_t recno = 0;
  std::vector<Assignment> values;
  try {
    recno = RecordNumberOf(a.words[1]);
    for (std::size_t i = 2; i < a.words.size(); ++i) values.push_back(CheckAssignment(a.words[i]));
  } catch (const DataError& e) {
    return DataFailure("replace", e);
  }
  OpenIndexesForWriting(a.indexes);
  LockOrEnd([recno] { return vz::RLock(recno); }, "Record " + std::to_string(recno));
  vz::GO(recno);
  const std::vector<Logical> logicals = Assign(values);
  vz::Replace();
  for (const Logical& l : logicals) vz::Poke(l.field, recno, l.value);
  vz::Unlock();
  vz::CloseAll();
  return 0;
}

int RunMark(const std::vector<std::string>& argv, bool deleted) {
  WriteArgs a;
  if (!SplitWriteArgs(argv, a) || a.words.size() != 2) return -1;
  OpenForWriting(a.words[0], false);
  std::int64_t recno = 0;
  try {
    recno = RecordNumberOf(a.words[1]);
  } catch (const DataError& e) {
    return DataFailure(deleted ? "delete" : "recall", e);
  }
  OpenIndexesForWriting(a.indexes);
  LockOrEnd([recno] { return vz::RLock(recno); }, "Record " + std::to_string(recno));
  vz::GO(recno);
  if (deleted)
    vz::DeleteRec();
  else
    vz::RecallRec();
  vz::Unlock();
  vz::CloseAll();
  return 0;
}

int RunDelete(const std::vector<std::string>& argv) {
  return RunMark(argv, true);
}
int RunRecall(const std::vector<std::string>& argv) {
  return RunMark(argv, false);
}

int RunPack(const std::vector<std::string>& argv) {
  WriteArgs a;
  if (!SplitWriteArgs(argv, a) || a.words.size() != 1) return -1;
  OpenForWriting(a.words[0], true);
  OpenIndexesForWriting(a.indexes);
  vz::PACK();
  vz::CloseAll();
  return 0;
}

}  // namespace vz::tool
