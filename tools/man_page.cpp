// man_page: makes a program's manual page from its --help text, at build
// time, so that the two never say different things.
//
// usage: man_page PROGRAM NAME VERSION OUTPUT
//
// Runs `PROGRAM --help` and reads it as follows:
//   - the first line starts with "usage: "; lines indented after it are
//     more forms of the command (SYNOPSIS);
//   - the next line is a one-line summary (NAME), then the description up
//     to a blank line (DESCRIPTION);
//   - a line at the left edge that ends in a colon is a heading (a section);
//   - under it, a line indented by two blanks with two or more blanks
//     inside is an item: a term, then its description (which may go on in
//     lines indented as far as the description starts; a line indented
//     further is kept as it stands). A term alone on its line takes its
//     description from the lines indented further below it. Other lines
//     indented by two blanks are text; lines indented by four after text
//     are kept as they stand (examples).
// Under a heading "Commands:", each item's term starts with a command's
// name: the page shows that command's own `PROGRAM COMMAND --help` (its
// usage line, then text and items as above) instead of the one-line
// description.
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Line {
  int indent = 0;
  std::string text;  // without the indent
  bool blank = true;
};

std::vector<Line> Lines(const std::string& text) {
  std::vector<Line> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string s = text.substr(start, end - start);
    start = end + 1;
    Line l;
    while (static_cast<std::size_t>(l.indent) < s.size() &&
           s[static_cast<std::size_t>(l.indent)] == ' ')
      ++l.indent;
    l.text = s.substr(static_cast<std::size_t>(l.indent));
    while (!l.text.empty() && l.text.back() == ' ') l.text.pop_back();
    l.blank = l.text.empty();
    out.push_back(l);
  }
  return out;
}

bool Run(const std::string& command, std::string& out) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return false;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  return ::pclose(p) == 0;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Text for troff: backslashes escaped, a dash that starts a word (an
// option) a minus sign, a line that would start with a control character
// protected.
std::string Escape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const char before = i == 0 ? ' ' : s[i - 1];
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && (before == ' ' || before == '[' || before == '(' || before == '|' ||
                            before == '-' || before == '"')) {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Where an item's description starts in its line (0: the line is no item).
std::size_t DescriptionStart(const std::string& text) {
  const std::size_t gap = text.find("  ");
  if (gap == std::string::npos) return 0;
  const std::size_t start = text.find_first_not_of(' ', gap);
  return start == std::string::npos ? 0 : start;
}

// The lines of a section's body (or a command's) as troff. `commands`
// maps a command item to that command's page part.
class Body {
 public:
  Body(std::string& out, const std::string& program) : out_(out), program_(program) {}

  // Lines from `i` up to the next heading; `base` is the indent of text.
  std::size_t Emit(const std::vector<Line>& lines, std::size_t i, int base, bool commands) {
    bool preformatted = false;
    bool inItem = false;
    int column = 0;  // the description's indent in the current item
    bool paragraph = false;
    const auto endPre = [&] {
      if (preformatted) out_ += ".fi\n.in\n";
      preformatted = false;
    };
    for (; i < lines.size(); ++i) {
      const Line& l = lines[i];
      if (!l.blank && l.indent == 0 && !l.text.empty() && l.text.back() == ':') break;
      if (l.blank) {
        endPre();
        inItem = false;
        paragraph = false;
        continue;
      }
      if (inItem && l.indent > base) {
        if (column == 0) column = l.indent;
        if (l.indent > column) {
          if (!preformatted) out_ += ".in +4n\n.nf\n";
          preformatted = true;
          out_ +=
              Escape(std::string(static_cast<std::size_t>(l.indent - column), ' ') + l.text) + "\n";
        } else {
          endPre();
          out_ += Escape(l.text) + "\n";
        }
        continue;
      }
      if (l.indent > base && paragraph) {
        if (!preformatted) out_ += ".in +4n\n.nf\n";
        preformatted = true;
        out_ += Escape(l.text) + "\n";
        continue;
      }
      endPre();
      const bool termAlone = i + 1 < lines.size() && !lines[i + 1].blank &&
                             lines[i + 1].indent >= base + 4 && DescriptionStart(l.text) == 0 &&
                             !paragraph;
      const std::size_t start = DescriptionStart(l.text);
      if (l.indent == base && (start > 0 || termAlone)) {
        const std::string term = start > 0 ? l.text.substr(0, l.text.find("  ")) : l.text;
        if (commands) {
          EmitCommand(term);
          inItem = false;
          // Its one-line description (and the lines that go on with it)
          // give way to the command's own help.
          while (i + 1 < lines.size() && !lines[i + 1].blank && lines[i + 1].indent > base) ++i;
          continue;
        }
        out_ += ".TP\n" + Bold(term) + "\n";
        inItem = true;
        column = start > 0 ? base + static_cast<int>(start) : 0;
        if (start > 0) out_ += Escape(l.text.substr(start)) + "\n";
        paragraph = false;
        continue;
      }
      if (!paragraph) out_ += ".PP\n";
      paragraph = true;
      out_ += Escape(l.text) + "\n";
    }
    endPre();
    return i;
  }

  bool failed() const { return failed_; }

 private:
  // The first word bold, the rest as it is.
  static std::string Bold(const std::string& term) {
    const std::size_t space = term.find(' ');
    if (space == std::string::npos) return "\\fB" + Escape(term) + "\\fR";
    return "\\fB" + Escape(term.substr(0, space)) + "\\fR" + Escape(term.substr(space));
  }

  void EmitCommand(const std::string& term) {
    const std::string name = term.substr(0, term.find(' '));
    std::string help;
    if (!Run(Quote(program_) + " " + Quote(name) + " --help", help)) {
      std::fprintf(stderr, "man_page: %s %s --help failed\n", program_.c_str(), name.c_str());
      failed_ = true;
      return;
    }
    const std::vector<Line> lines = Lines(help);
    std::string usage = lines.empty() ? name : lines[0].text;
    if (usage.rfind("usage: ", 0) == 0) usage = usage.substr(7);
    out_ += ".SS \"" + Escape(usage) + "\"\n";
    Body body(out_, program_);
    body.Emit(lines, 1, 2, false);
  }

  std::string& out_;
  const std::string& program_;
  bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: man_page PROGRAM NAME VERSION OUTPUT\n", stderr);
    return 64;
  }
  const std::string program = argv[1], name = argv[2], version = argv[3];
  std::string help;
  if (!Run(Quote(program) + " --help", help)) {
    std::fprintf(stderr, "man_page: %s --help failed\n", program.c_str());
    return 1;
  }
  const std::vector<Line> lines = Lines(help);
  if (lines.empty() || lines[0].text.rfind("usage: ", 0) != 0) {
    std::fprintf(stderr, "man_page: %s --help does not start with its usage\n", program.c_str());
    return 1;
  }
  std::string out =
      ".TH " + Upper(name) + " 1 \"\" \"" + name + " " + version + "\" \"User Commands\"\n";
  std::size_t i = 0;
  std::vector<std::string> synopsis;
  synopsis.push_back(lines[i++].text.substr(7));
  while (i < lines.size() && !lines[i].blank && lines[i].indent > 0)
    synopsis.push_back(lines[i++].text);
  std::string summary = i < lines.size() ? lines[i++].text : "";
  if (!summary.empty() && summary.back() == '.') summary.pop_back();
  if (!summary.empty() && summary[0] >= 'A' && summary[0] <= 'Z')
    summary[0] = static_cast<char>(summary[0] - 'A' + 'a');
  out += ".SH NAME\n" + name + " \\- " + Escape(summary) + "\n";
  out += ".SH SYNOPSIS\n.nf\n";
  for (const std::string& form : synopsis) {
    const std::size_t space = form.find(' ');
    out += "\\fB" + Escape(form.substr(0, space)) + "\\fR" +
           (space == std::string::npos ? "" : Escape(form.substr(space))) + "\n";
  }
  out += ".fi\n.SH DESCRIPTION\n";
  Body body(out, program);
  i = body.Emit(lines, i, 0, false);
  while (i < lines.size()) {
    std::string heading = lines[i++].text;
    heading.pop_back();
    out += ".SH \"" + Escape(Upper(heading)) + "\"\n";
    i = body.Emit(lines, i, 2, heading == "Commands");
  }
  if (body.failed()) return 1;
  FILE* f = std::fopen(argv[4], "w");
  if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "man_page: cannot write %s\n", argv[4]);
    return 1;
  }
  return 0;
}
