// The manual page and the tool's --help name the same commands and the same
// options: an option added to the tool without its paragraph in the page, or
// one the tool dropped that the page still describes, fails here. The page
// is read as roff text (no man or groff needed): an option counts where a
// tagged paragraph (.TP) names it, under OPTIONS for the tool's own options
// and under a command's .SS heading in COMMANDS for that command's.
#include <cctype>
#include <map>
#include <set>
#include <sstream>
#include <string_view>

#include "cli_helpers.h"

namespace velquor::test {
namespace {

using Names = std::set<std::string>;

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
}

/// Every "-x" or "--long-name" in `text`, standing at a word's start.
Names OptionsIn(const std::string& text) {
  Names names;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool wordStart = i == 0 || std::isspace(static_cast<unsigned char>(text[i - 1])) != 0 ||
                           text[i - 1] == ',' || text[i - 1] == '"';
    if (!wordStart || text[i] != '-') continue;
    const std::size_t letter = i + (i + 1 < text.size() && text[i + 1] == '-' ? 2 : 1);
    if (letter >= text.size() || std::isalpha(static_cast<unsigned char>(text[letter])) == 0) {
      continue;
    }
    std::size_t end = letter;
    while (end < text.size() && IsNameChar(text[end])) ++end;
    names.insert(text.substr(i, end - i));
    i = end - 1;
  }
  return names;
}

/// A roff line as plain text: "\-" is a dash and font changes vanish.
std::string PlainText(const std::string& roff) {
  std::string plain;
  for (std::size_t i = 0; i < roff.size(); ++i) {
    if (roff[i] == '\\' && i + 1 < roff.size() && roff[i + 1] == '-') {
      plain += '-';
      ++i;
    } else if (roff[i] == '\\' && i + 2 < roff.size() && roff[i + 1] == 'f' &&
               std::string_view("BIRP").find(roff[i + 2]) != std::string_view::npos) {
      i += 2;
    } else {
      plain += roff[i];
    }
  }
  return plain;
}

struct ManPage {
  Names commands;
  /// By section: "" for the tool's own options, else the command's name.
  std::map<std::string, Names> options;
};

ManPage ReadManPage(const std::string& roff) {
  ManPage page;
  std::istringstream lines(roff);
  std::string section;
  bool inCommands = false;
  bool tagLine = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".SH ", 0) == 0) {
      const std::string heading = line.substr(4);
      inCommands = heading == "COMMANDS";
      section = heading == "OPTIONS" ? "" : "?";
      if (heading == "OPTIONS") page.options[""];
      continue;
    }
    if (line.rfind(".SS ", 0) == 0 && inCommands) {
      section = line.substr(4);
      page.commands.insert(section);
      page.options[section];
      continue;
    }
    if (line == ".TP") {
      tagLine = true;
      continue;
    }
    if (tagLine && section != "?") page.options[section].merge(OptionsIn(PlainText(line)));
    tagLine = false;
  }
  return page;
}

struct Help {
  Names commands;
  Names options;
};

/// The "Options:" and "Subcommands:" lists of a --help text.
Help ReadHelp(const std::string& text) {
  Help help;
  std::istringstream lines(text);
  std::string list;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] != ' ') {
      list = line;
      continue;
    }
    std::istringstream words(line);
    std::string first;
    if (!(words >> first)) continue;
    if (list == "Subcommands:") help.commands.insert(first);
    if (list == "Options:" && first[0] == '-') help.options.merge(OptionsIn(first));
  }
  return help;
}

class ManPageTest : public CliTest {
 protected:
  Help HelpOf(const std::string& command) {
    const Result r = Velquor(command + " --help");
    EXPECT_EQ(r.status, 0) << r.err;
    return ReadHelp(r.out);
  }
  ManPage page = ReadManPage(ReadFile(VELQUOR_MAN_PAGE));
};

TEST_F(ManPageTest, DescribesEveryCommandAndNoOther) {
  const Help top = HelpOf("");
  ASSERT_FALSE(top.commands.empty());
  EXPECT_EQ(page.commands, top.commands);
}

TEST_F(ManPageTest, DescribesEveryOptionOfEachCommandAndNoOther) {
  const Help top = HelpOf("");
  ASSERT_TRUE(top.options.count("--help"));
  EXPECT_EQ(page.options[""], top.options) << "the tool's own options (OPTIONS)";
  // Each command's --help repeats -h,--help, which the page describes once
  // among the tool's own options.
  for (const std::string& command : top.commands) {
    Names options = HelpOf(command).options;
    options.erase("-h");
    options.erase("--help");
    EXPECT_EQ(page.options[command], options) << "velquor " << command;
  }
}

}  // namespace
}  // namespace velquor::test
