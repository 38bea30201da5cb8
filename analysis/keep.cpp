#include "analysis/keep.h"

#include <algorithm>
#include <numeric>

namespace analysis {
namespace {

constexpr size_t MaxNumberDigits = 9;

// A token as it may be quoted in a message: printable, and not too long.
std::string Shown(const std::string& token) {
  std::string s;
  for (unsigned char c : token.substr(0, 40)) s += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  return "\"" + s + (token.size() > 40 ? "...\"" : "\"");
}

[[noreturn]] void Fail(const std::string& name, int line, const std::string& what) {
  throw KeepError(name + " line " + std::to_string(line) + ": " + what);
}

// The line's words; a range written with spaces around its dash ("246 - 251")
// is one word, as "246-251" is.
std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> tokens;
  size_t i = 0;
  bool joinNext = false;
  while (true) {
    i = line.find_first_not_of(" \t", i);
    if (i == std::string::npos) return tokens;
    const size_t end = std::min(line.size(), line.find_first_of(" \t", i));
    const std::string word = line.substr(i, end - i);
    const bool joins = !tokens.empty() && (joinNext || word[0] == '-') && tokens.size() == 1;
    if (joins)
      tokens.back() += word;
    else
      tokens.push_back(word);
    joinNext = tokens.size() == 1 && tokens.back().back() == '-';
    i = end;
  }
}

}  // namespace

int RebuiltField(char code, int p) {
  switch (code) {
    case '2':
    case '6': return p;
    case '5': return p % 2 == 0 ? p : p + 1;
    case '4': return p % 2 == 0 ? p + 1 : p;
    default: return -1;
  }
}

std::vector<KeepLine> ParseKeepFile(const std::string& text, const std::string& name) {
  std::vector<KeepLine> lines;
  int number = 0;
  // Notepad and other Windows editors start a UTF-8 file with a byte-order mark.
  const size_t bom = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (size_t start = bom; start < text.size();) {
    const size_t end = std::min(text.size(), text.find('\n', start));
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = line.substr(0, line.find('#'));
    const std::vector<std::string> tokens = Tokens(line);
    if (tokens.empty()) continue;
    if (tokens.size() == 1)
      Fail(name, number, Shown(tokens[0]) + " needs its code after it, e.g. \"" + tokens[0].substr(0, 20) + " 1\"");
    if (tokens.size() > 2)
      Fail(name, number, "one range and its codes a line, e.g. \"1240-1249 2\" (" + Shown(tokens[2]) + " is more)");

    KeepLine k;
    k.line = number;
    auto position = [&](const std::string& s) {
      if (s.empty() || s.size() > MaxNumberDigits || s.find_first_not_of("0123456789") != std::string::npos)
        Fail(name, number, "position " + Shown(s) + " is not a whole number from 0 (a range is FIRST-LAST)");
      return std::stoi(s);
    };
    const size_t dash = tokens[0].find('-');
    k.first = position(tokens[0].substr(0, dash));
    k.last = dash == std::string::npos ? k.first : position(tokens[0].substr(dash + 1));
    if (k.last < k.first) Fail(name, number, "the range " + tokens[0] + " ends before it starts");
    k.codes = tokens[1];
    for (char c : k.codes)
      if (c < '0' || c > '6') Fail(name, number, "code " + Shown(std::string(1, c)) + " is not one of 0 to 6");
    const long long count = static_cast<long long>(k.last) - k.first + 1;
    if (k.codes.size() != 1 && static_cast<long long>(k.codes.size()) != count)
      Fail(name, number,
           std::to_string(k.codes.size()) + " codes for the " + std::to_string(count) + " positions " + tokens[0] +
               ": give one code for them all or one per position");
    lines.push_back(k);
  }
  // No position kept twice: in position order, each line starts after the
  // one before ends.
  std::vector<size_t> order(lines.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return lines[a].first < lines[b].first; });
  for (size_t i = 1; i < order.size(); ++i) {
    const KeepLine &a = lines[order[i - 1]], &b = lines[order[i]];
    if (b.first <= a.last) {
      const KeepLine& later = a.line > b.line ? a : b;
      const KeepLine& earlier = a.line > b.line ? b : a;
      Fail(name, later.line,
           "position " + std::to_string(b.first) + " is kept by line " + std::to_string(earlier.line) + " too");
    }
  }
  return lines;
}

Constraints KeepConstraints(const std::vector<KeepLine>& lines, int positions, const std::string& name) {
  Constraints c;
  c.code.assign(positions, '\0');
  c.boundary.assign(positions, -1);
  c.fieldTaken.assign(positions + 1, false);
  // Which kept code fixed each boundary, for the message of a contradiction.
  struct Cause {
    int line, position;
    char code;
  };
  std::vector<Cause> causes(positions);
  for (const KeepLine& k : lines) {
    if (k.last >= positions)
      Fail(name, k.line,
           "position " + std::to_string(k.last) + " is past the clip's last position " + std::to_string(positions - 1));
    for (int p = k.first; p <= k.last; ++p) {
      const char code = k.CodeAt(p);
      c.code[p] = code;
      auto fix = [&](int q, signed char apart) {
        if (q < 0 || q >= positions) return;
        if (c.boundary[q] >= 0 && c.boundary[q] != apart) {
          const Cause& other = causes[q];
          const std::string fields = "fields " + std::to_string(q) + " and " + std::to_string(q + 1);
          Fail(name, k.line,
               std::string("code ") + code + " at position " + std::to_string(p) + (apart ? " keeps " : " joins ") +
                   fields + (apart ? " apart" : "") + ", but code " + other.code + " at position " +
                   std::to_string(other.position) + " (line " + std::to_string(other.line) + ")" +
                   (apart ? " joins them" : " keeps them apart"));
        }
        c.boundary[q] = apart;
        causes[q] = {k.line, p, code};
      };
      if (code == '1' || code == '3') {
        fix(p, 0);
        c.fieldTaken[p] = c.fieldTaken[p + 1] = true;
      }
      const int f = RebuiltField(code, p);
      if (f >= 0) {
        fix(f - 1, 1);
        fix(f, 1);
        c.fieldTaken[f] = true;
      }
    }
  }
  return c;
}

}  // namespace analysis
