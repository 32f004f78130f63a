#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "platform/system/system.h"

const char kUsage[] =
    "usage: velkor-split [--gif | --bmp | --png | --stored] [--transparent] [--realtime]\n"
    "                    [--compose window|browser [--background COLOUR]]\n"
    "                    [-o DIR] [--name PATTERN] [-n] [--frames LIST] [--salvage]\n"
    "                    [--print0 | --json] [--quiet] [-r [--keep-tree]]\n"
    "                    [--from LIST [-0]] [-j N] FILE...\n"
    "       velkor-split --sheet [--sheet-columns N] [--sheet-padding PX]\n"
    "                    [--sheet-extrude PX] [--sheet-max PX] [--sheet-trim]\n"
    "                    [--compose window|browser] [-o DIR] [--name PATTERN] [-n]\n"
    "                    [--frames LIST] [--salvage] [--print0 | --json] [--quiet]\n"
    "                    [-r [--keep-tree]] [--from LIST [-0]] [-j N] FILE...\n"
    "       velkor-split --info [--compose window|browser] [-r] [--from LIST [-0]] FILE...\n";

const char kHelp[] =
    "velkor-split [--gif | --bmp | --png | --stored] [--transparent] [--realtime]\n"
    "             [--compose window|browser [--background COLOUR]]\n"
    "             [-o DIR] [--name PATTERN] [-n] [--frames LIST] [--salvage]\n"
    "             [--print0 | --json] [--quiet] [-r [--keep-tree]]\n"
    "             [--from LIST [-0]] [-j N] FILE...\n"
    "velkor-split --sheet [--sheet-columns N] [--sheet-padding PX] [--sheet-extrude PX]\n"
    "             [--sheet-max PX] [--sheet-trim] [--compose window|browser] [-o DIR] ...\n"
    "velkor-split --info [--compose window|browser] [-r] [--from LIST [-0]] FILE...\n"
    "\n"
    "Splits each animated GIF FILE into its composed frames, exactly as a split run\n"
    "of Velkor does, and writes them next to FILE (or into DIR) as NAME_001.gif,\n"
    "NAME_002.gif, ... (NAME is FILE's name up to its first dot; a leading dot\n"
    "belongs to the name). Existing files of those names are replaced, unless -n\n"
    "keeps them; no FILE of the run ever is. FILE - is the GIF on standard input:\n"
    "its frames go into DIR (-o is needed) as stdin_001.gif, ...\n"
    "\n"
    "  --gif              write GIF files (the default)\n"
    "  --bmp              write 24-bit Windows bitmap files (.bmp) instead\n"
    "  --png              write lossless PNG files of the composed frames (.png), the\n"
    "                     pixels of --bmp, transparent where no frame has drawn since\n"
    "                     the canvas was last cleared\n"
    "  --stored           write PNG files of the pixels each frame stores itself, at\n"
    "                     the same size, transparent outside the frame's rectangle and\n"
    "                     at its transparent index\n"
    "  --transparent      GIF files mark the colour of their top-left pixel transparent\n"
    "  --realtime         wait each frame's delay, as the preview does (default: no waits)\n"
    "  --compose window   compose the frames by the window's rules (the default)\n"
    "  --compose browser  compose them as web browsers show the GIF: the canvas is\n"
    "                     the logical screen (grown to hold a first image larger than\n"
    "                     it), transparent where nothing was drawn; disposal 2 clears\n"
    "                     a frame's rectangle after it is shown, disposal 3 puts back\n"
    "                     what lay under it; a byte that starts no block ends the\n"
    "                     stream. --png keeps that transparency; --bmp and GIF files\n"
    "                     show --background there\n"
    "  --background COLOUR\n"
    "                     with --compose browser: what transparent pixels become in\n"
    "                     --bmp and GIF frames: #RRGGBB, black (the default), white,\n"
    "                     gray, red, green, blue or magenta\n"
    "  --sheet            write a sprite sheet instead of frame files: NAME.png with\n"
    "                     every frame in a grid and NAME.json, its atlas in the JSON\n"
    "                     hash form PixiJS and Phaser load as it is (each frame's\n"
    "                     place, size and duration in milliseconds, the animation\n"
    "                     NAME listing the frames in order, the loop count; see\n"
    "                     docs/sheet-atlas.schema.json). The frames are composed as\n"
    "                     --compose browser composes them unless --compose window\n"
    "                     is given. A sheet that would be larger than --sheet-max\n"
    "                     goes onto pages NAME-1.png, NAME-2.png, ..., each with its\n"
    "                     atlas, which names the others (related_multi_packs)\n"
    "  --sheet-columns N  frames in a row (default: the grid nearest to a square)\n"
    "  --sheet-padding PX transparent pixels between two frames (default 0)\n"
    "  --sheet-extrude PX each frame's edge pixels repeated PX times around it, so\n"
    "                     that a renderer that filters does not bleed (default 0)\n"
    "  --sheet-max PX     a page's largest side in pixels (default 4096)\n"
    "  --sheet-trim       cut each frame's transparent borders (the atlas says where\n"
    "                     it goes back) and store identical frames once\n"
    "  -o, --output-dir DIR\n"
    "                     write the frames into DIR (made when missing)\n"
    "  --name PATTERN     name the frames after PATTERN (the extension is added):\n"
    "                     {stem} is FILE's name without its last extension, {name}\n"
    "                     is NAME, and one number is {n}, {n:04} (zero-padded to 4\n"
    "                     digits; 01 to 09) or {n:auto} (as many digits as the\n"
    "                     file's frame count has). The default is {name}_{n:03}\n"
    "  -n, --no-clobber   keep a file that has a frame's name: that frame is not\n"
    "                     written, and is named as \"PATH: not written: exists\"\n"
    "  --frames LIST      write only these frames, keeping their numbers: 3, 1-10, 5-,\n"
    "                     1,4,9-12 (frames count from 1). A FILE the list names no\n"
    "                     frame of is not split (exit status 1)\n"
    "  --salvage          a FILE whose bytes are damaged at frame K (cut short, a\n"
    "                     broken block, image data that cannot be decoded) gives\n"
    "                     frames 1 to K-1, composed as a whole file composes them;\n"
    "                     nothing of frame K or later is written. A file that\n"
    "                     ends without its trailer is damaged too\n"
    "  -r, --recursive    a folder FILE stands for the .gif files under it (any case,\n"
    "                     sorted, symbolic links not followed). DIR is not walked,\n"
    "                     and a file named like the frames of a GIF beside it\n"
    "                     (NAME_001.gif beside NAME.gif) is skipped, so that the\n"
    "                     same command can run again; the summary counts them\n"
    "  --keep-tree        with -r and -o: the frames of a file found in a sub-folder\n"
    "                     go into the same sub-folder under DIR\n"
    "  --from LIST        also split the files LIST names, one per line, after the\n"
    "                     FILE arguments (LIST - is standard input)\n"
    "  -0, --null         the names in LIST are separated by NUL characters\n"
    "                     (find -print0)\n"
    "  -j, --jobs N       split N files at the same time (default: one per core).\n"
    "                     The runs at the same time keep at most 2 Gi frame pixels\n"
    "                     (2 GiB of frame pictures) together, the limit of a single\n"
    "                     run: a run that would go over it waits for the others\n"
    "  --print0           list the frame files written each followed by a NUL\n"
    "                     character instead of a line end (xargs -0)\n"
    "  --json             list them as JSON Lines: an object for every frame, written\n"
    "                     or not (with the reason), then one for the file with its\n"
    "                     outcome (see docs/split-listing.schema.json)\n"
    "  --info             write no frames: print the frame table as JSON (see\n"
    "                     docs/frame-table.schema.json); with several files, one\n"
    "                     table per line (JSON Lines), in the order of the files\n"
    "  -q, --quiet        print nothing but errors: no list of files (but the one\n"
    "                     --print0 or --json asks for), no progress, no summary\n"
    "  -h, --help         show this text\n"
    "  --version          show the version\n"
    "\n"
    "Standard output lists the full path of every frame file written, one per\n"
    "line, in the order of the files and their frames, whatever -j is. On a\n"
    "terminal, standard error shows a progress line. A FILE that cannot be split\n"
    "is named on standard error with the reason, the byte offset (from 0) and the\n"
    "frame number (from 1) where they apply; a frame that cannot be written as\n"
    "\"velkor-split: PATH: cannot write: REASON\" (no space left, permission, name\n"
    "too long, file size limit). A frame file is complete or absent: each is\n"
    "written beside its name and put in place whole. With more than one FILE, a\n"
    "last line on standard error sums up the files split, damaged and refused and\n"
    "the frames written and not written (a file is split when every frame asked\n"
    "for was written or kept by -n, incomplete when not). Two files that would\n"
    "write the same names into one folder (or into the folder another file of the\n"
    "run lies in, under its name) are refused before anything is written, whatever\n"
    "links lead there. A file that cannot be split never stops the others.\n"
    "\n"
    "SIGINT (Ctrl+C), SIGTERM or SIGHUP stop the run at the next frame: the\n"
    "frames written so far are whole and listed, the summary is printed, no\n"
    "temporary or partial file is left behind, and the exit status is 128 + the\n"
    "signal's number (130, 143, 129). A second signal ends the program at once.\n"
    "\n"
    "Exit status (with several files, the first of 2, 3, 1 that applies):\n"
    "  0   every file was split and every frame written (with --info: every FILE\n"
    "      can be split)\n"
    "  1   some FILE cannot be broken into frames (also anything that is not a\n"
    "      regular file, a file --frames names no frame of, and with --sheet a\n"
    "      file whose frames do not fit a page); nothing of it was written\n"
    "  2   some frame files could not be written (each is named on standard\n"
    "      error with the reason), DIR cannot be made or written to, the list\n"
    "      of files or the frame table of --info could not be written, a folder\n"
    "      under -r could not be read, or the system failed (out of memory, no\n"
    "      file descriptor or temporary space left: \"FILE: failed: REASON\")\n"
    "  3   with --salvage, some FILE was damaged: \"damaged: frames 1 to K-1\n"
    "      written\" on standard error, with the reason\n"
    "  64  usage error: a mistake in the options (the usage text follows it),\n"
    "      a --from LIST that cannot be read or is no list, or two files whose\n"
    "      frames would share names\n"
    "  129, 130, 143  stopped by SIGHUP, SIGINT or SIGTERM\n";

namespace {

// Every option: its long name, its one-letter name (0: none), and whether it
// takes a value, with what the value is for the message when it is missing.
struct OptionName {
  const char* name;
  char letter;
  const char* value;  // nullptr: a flag
};
constexpr OptionName kOptionNames[] = {
    {"--gif", 0, nullptr},
    {"--bmp", 0, nullptr},
    {"--png", 0, nullptr},
    {"--stored", 0, nullptr},
    {"--transparent", 0, nullptr},
    {"--realtime", 0, nullptr},
    {"--compose", 0, "window or browser"},
    {"--background", 0, "a colour"},
    {"--output-dir", 'o', "a folder"},
    {"--name", 0, "a pattern such as {name}_{n:03}"},
    {"--no-clobber", 'n', nullptr},
    {"--frames", 0, "a list of frames (3, 1-10, 5-, 1,4,9-12)"},
    {"--salvage", 0, nullptr},
    {"--recursive", 'r', nullptr},
    {"--keep-tree", 0, nullptr},
    {"--from", 0, "a list (- for standard input)"},
    {"--null", '0', nullptr},
    {"--jobs", 'j', "a number of 1 or more"},
    {"--sheet", 0, nullptr},
    {"--sheet-columns", 0, "a number of 1 or more"},
    {"--sheet-padding", 0, "a number of pixels"},
    {"--sheet-extrude", 0, "a number of pixels"},
    {"--sheet-max", 0, "a number of pixels of 1 or more"},
    {"--sheet-trim", 0, nullptr},
    {"--print0", 0, nullptr},
    {"--json", 0, nullptr},
    {"--info", 0, nullptr},
    {"--quiet", 'q', nullptr},
    {"--help", 'h', nullptr},
    {"--version", 0, nullptr},
};

const OptionName* ByName(const std::string& name) {
  for (const auto& o : kOptionNames) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

const OptionName* ByLetter(char letter) {
  for (const auto& o : kOptionNames) {
    if (o.letter != 0 && letter == o.letter) return &o;
  }
  return nullptr;
}

// The edits (a character added, dropped, changed, or two swapped) that turn
// one text into the other.
std::size_t Edits(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

Refusal UsageError(std::string message) { return {std::move(message), kExitUsage, true}; }
Refusal Refused(std::string message, int status = kExitUsage) {
  return {std::move(message), status, false};
}

// Reads the words of the command line the way the parser will, to say what
// is wrong in this program's own words: an option nobody knows (and the one
// meant), a value missing, an option given twice.
std::optional<Refusal> CheckWords(const std::vector<std::string>& arguments) {
  std::map<const OptionName*, int> seen;
  auto given = [&](const OptionName* o, const std::string& as) -> std::optional<Refusal> {
    if (o->value != nullptr && ++seen[o] == 2) return UsageError(as + " is given twice");
    return std::nullopt;
  };
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (word == "--") break;  // FILE arguments only from here
    if (word.size() < 2 || word[0] != '-') continue;
    if (word[1] == '-') {
      const auto equals = word.find('=');
      const std::string name = word.substr(0, equals);
      const OptionName* o = ByName(name);
      if (o == nullptr) {
        const std::string near = NearestOption(name);
        return UsageError("unknown option " + name +
                          (near.empty() ? std::string() : "; did you mean " + near + "?"));
      }
      if (o->value == nullptr && equals != std::string::npos) {
        return UsageError(name + " takes no value");
      }
      if (auto twice = given(o, name)) return twice;
      if (o->value != nullptr && equals == std::string::npos) {
        if (i + 1 >= arguments.size()) return UsageError(name + " needs " + o->value);
        ++i;
      }
      continue;
    }
    // One letter or several: -rq, -j2, -o DIR.
    for (std::size_t k = 1; k < word.size(); ++k) {
      const OptionName* o = ByLetter(word[k]);
      if (o == nullptr) {
        const std::string near = NearestOption("-" + word);
        return UsageError("unknown option -" + std::string(1, word[k]) +
                          (k == 1 && !near.empty() ? "; did you mean " + near + "?" : ""));
      }
      const std::string as = std::string("-") + word[k];
      if (auto twice = given(o, as)) return twice;
      if (o->value != nullptr) {
        if (k + 1 == word.size()) {
          if (i + 1 >= arguments.size()) return UsageError(as + " needs " + o->value);
          ++i;
        }
        break;
      }
    }
  }
  return std::nullopt;
}

// Two options of which at most one may be given.
struct Exclusive {
  const char* a;
  const char* b;
};

}  // namespace

StandardInputCopy::~StandardInputCopy() { sys::DeleteFile(path_); }

std::string NearestOption(const std::string& typed) {
  std::string best;
  std::size_t bestEdits = 3;  // two edits at most, and fewer than half the name
  for (const auto& o : kOptionNames) {
    const std::size_t edits = Edits(typed, o.name);
    if (edits < bestEdits && edits * 2 < std::strlen(o.name) - 2) {
      best = o.name;
      bestEdits = edits;
    }
  }
  return best;
}

// "#RRGGBB" or a colour's name, as 0x00RRGGBB.
std::optional<std::uint32_t> ParseColour(const std::string& text) {
  static const std::pair<const char*, std::uint32_t> kNames[] = {
      {"black", 0x000000}, {"white", 0xFFFFFF}, {"gray", 0x808080}, {"grey", 0x808080},
      {"red", 0xFF0000},   {"green", 0x00FF00}, {"blue", 0x0000FF}, {"magenta", 0xFF00FF}};
  for (const auto& [name, value] : kNames) {
    if (text == name) return value;
  }
  if (text.size() != 7 || text[0] != '#') return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = 1; i < 7; ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return std::nullopt;
    value = value << 4 | std::uint32_t(digit);
  }
  return value;
}

std::optional<Refusal> ParseOptions(const std::vector<std::string>& arguments, Options& o) {
  if (auto wrong = CheckWords(arguments)) return wrong;
  CLI::App app("velkor-split", "velkor-split");
  app.set_help_flag();  // the help text is ours
  std::string jobs, name, sheetColumns, sheetPadding, sheetExtrude, sheetMax;
  bool print0 = false, json = false;
  std::map<std::string, CLI::Option*> given;
  auto flag = [&](const char* names, bool& to) {
    auto* option = app.add_flag(names, to);
    given[option->get_name()] = option;
  };
  auto value = [&](const char* names, std::string& to) {
    auto* option = app.add_option(names, to);
    given[option->get_name()] = option;
  };
  flag("--gif", o.gif);
  flag("--bmp", o.bmp);
  flag("--png", o.png);
  flag("--stored", o.stored);
  flag("--transparent", o.transparent);
  flag("--realtime", o.realtime);
  value("-o,--output-dir", o.outputDir);
  value("--name", name);
  flag("-n,--no-clobber", o.noClobber);
  value("--frames", o.frames);
  flag("--info", o.info);
  flag("-q,--quiet", o.quiet);
  flag("--salvage", o.salvage);
  flag("-r,--recursive", o.recursive);
  flag("--keep-tree", o.keepTree);
  value("--from", o.from);
  flag("-0,--null", o.nul);
  value("-j,--jobs", jobs);
  value("--compose", o.compose);
  value("--background", o.background);
  flag("--sheet", o.sheet);
  value("--sheet-columns", sheetColumns);
  value("--sheet-padding", sheetPadding);
  value("--sheet-extrude", sheetExtrude);
  value("--sheet-max", sheetMax);
  flag("--sheet-trim", o.sheetTrim);
  flag("--print0", print0);
  flag("--json", json);
  app.add_flag("-h,--help", o.help);
  app.add_flag("--version", o.version);
  app.add_option("FILE", o.files);
  std::vector<char*> values;
  for (const auto& a : arguments) values.push_back(const_cast<char*>(a.c_str()));
  try {
    app.parse(int(values.size()), values.data());
  } catch (const CLI::ParseError& e) {
    return UsageError(e.what());
  }
  if (o.help || o.version) return std::nullopt;
  auto has = [&](const char* option) { return given.at(option)->count() > 0; };
  static const Exclusive kExclusive[] = {
      {"--gif", "--bmp"},         {"--gif", "--png"},           {"--gif", "--stored"},
      {"--bmp", "--png"},         {"--bmp", "--stored"},        {"--png", "--stored"},
      {"--print0", "--json"},     {"--info", "--gif"},          {"--info", "--bmp"},
      {"--info", "--png"},        {"--info", "--stored"},       {"--info", "--transparent"},
      {"--info", "--realtime"},   {"--info", "--output-dir"},   {"--info", "--frames"},
      {"--info", "--quiet"},      {"--info", "--salvage"},      {"--info", "--keep-tree"},
      {"--info", "--background"}, {"--info", "--name"},         {"--info", "--no-clobber"},
      {"--info", "--print0"},     {"--info", "--json"},         {"--sheet", "--info"},
      {"--sheet", "--gif"},       {"--sheet", "--bmp"},         {"--sheet", "--png"},
      {"--sheet", "--stored"},    {"--sheet", "--transparent"}, {"--sheet", "--background"},
      {"--sheet", "--realtime"},
  };
  for (const auto& [a, b] : kExclusive) {
    if (has(a) && has(b)) return UsageError(std::string(a) + " and " + b + " cannot go together");
  }
  if (o.files.empty() && !has("--from")) return UsageError("");
  if (has("--frames")) {
    o.selection = FrameList::Parse(o.frames);
    if (!o.selection) {
      return UsageError("--frames " + o.frames + ": not a list of frames (3, 1-10, 5-, 1,4,9-12)");
    }
  }
  if (has("--compose") && o.compose != "window" && o.compose != "browser") {
    return UsageError("--compose " + o.compose + ": window or browser");
  }
  // A sheet is for a browser's or a game engine's renderer: its frames are
  // the browser's unless the window's are asked for.
  if (o.sheet && !has("--compose")) o.compose = "browser";
  o.browser = o.compose == "browser";
  struct SheetNumber {
    const char* option;
    const std::string& text;
    int least;
    int& to;
  };
  const SheetNumber sheetNumbers[] = {{"--sheet-columns", sheetColumns, 1, o.sheetColumns},
                                      {"--sheet-padding", sheetPadding, 0, o.sheetPadding},
                                      {"--sheet-extrude", sheetExtrude, 0, o.sheetExtrude},
                                      {"--sheet-max", sheetMax, 1, o.sheetMax}};
  for (const auto& number : sheetNumbers) {
    if (!has(number.option)) continue;
    if (!o.sheet) return UsageError(std::string(number.option) + " goes with --sheet");
    const bool digits = !number.text.empty() && number.text.size() < 6 &&
                        number.text.find_first_not_of("0123456789") == std::string::npos;
    const int value = digits ? std::stoi(number.text) : -1;
    if (value < number.least || value > 65535) {
      return UsageError(std::string(number.option) + " " + number.text + ": not a number of " +
                        std::to_string(number.least) + " to 65535");
    }
    number.to = value;
  }
  if (o.sheetTrim && !o.sheet) return UsageError("--sheet-trim goes with --sheet");
  if (has("--background")) {
    if (!o.browser) return UsageError("--background goes with --compose browser");
    const auto colour = ParseColour(o.background);
    if (!colour) {
      return UsageError("--background " + o.background +
                        ": not a colour (#RRGGBB, black, white, gray, red, green, blue, magenta)");
    }
    o.backgroundColour = *colour;
  }
  if (has("--name")) {
    std::string problem;
    const auto pattern = NamePattern::Parse(name, problem);
    if (!pattern) return UsageError("--name " + name + ": " + problem);
    o.names = *pattern;
  }
  if (has("--output-dir") && o.outputDir.empty()) return UsageError("--output-dir needs a folder");
  if (has("--jobs")) {
    const bool digits = !jobs.empty() && jobs.size() < 6 &&
                        jobs.find_first_not_of("0123456789") == std::string::npos;
    o.jobs = digits ? unsigned(std::stoul(jobs)) : 0;
    if (o.jobs == 0) return UsageError("--jobs " + jobs + ": not a number of 1 or more");
  }
  if (has("--null") && !has("--from")) return UsageError("-0 goes with --from");
  if (has("--keep-tree") && (!has("--recursive") || o.outputDir.empty())) {
    return UsageError("--keep-tree goes with -r and -o");
  }
  if (has("--from") && o.from.empty())
    return UsageError("--from needs a list (- for standard input)");
  o.listing = print0 ? ListFormat::Nul : json ? ListFormat::Json : ListFormat::Lines;
  const auto dashes = std::count(o.files.begin(), o.files.end(), "-");
  if (dashes > 1) return UsageError("- (standard input) is given more than once");
  if (dashes == 1 && o.from == "-") {
    return UsageError("- and --from - cannot both read standard input");
  }
  if (dashes == 1 && !o.info && o.outputDir.empty()) {
    return UsageError("- (the GIF on standard input) needs -o DIR for its frames");
  }
  return std::nullopt;
}

namespace {

// Copies standard input into a temporary file, as the engine reads a file.
std::optional<Refusal> CopyStandardInput(Options& o) {
  errno = 0;
  const auto path = sys::CreateTempFile(sys::TempFolder(), "velkor-stdin-", "gif");
  if (!path) {
    return Refused(std::string("standard input: cannot make a temporary copy: ") +
                       std::strerror(errno != 0 ? errno : EIO),
                   kExitWriteFailed);
  }
  o.standardInput = std::make_shared<StandardInputCopy>(*path);
  sys::OutputFile out;
  int error = 0;
  if (sys::CreateFileReplacing(*path, out, &error) == sys::ReplaceResult::Ok) {
    char buffer[65536];
    for (;;) {
      const std::size_t n = std::fread(buffer, 1, sizeof buffer, stdin);
      out.Write(buffer, n);
      if (n < sizeof buffer || sys::StopRequested()) break;
    }
    if (std::ferror(stdin)) error = errno != 0 ? errno : EIO;
    if (!out.Close() && error == 0) error = out.Error() != 0 ? out.Error() : EIO;
  }
  if (error != 0) {
    return Refused(
        std::string("standard input: cannot make a temporary copy: ") + std::strerror(error),
        kExitWriteFailed);
  }
  return std::nullopt;
}

}  // namespace

std::optional<Refusal> GatherInputs(Options& o) {
  // A walk leaves out the folder the frames go into: they are no input.
  if (const auto problem = AddArguments(o.files, o.recursive, o.inputs, o.unreadable,
                                        o.recursive ? o.outputDir : std::string())) {
    return UsageError(*problem);
  }
  for (auto& in : o.inputs) {
    if (in.path != "-" || in.walked) continue;
    if (!o.standardInput) {
      if (auto refusal = CopyStandardInput(o)) return refusal;
    }
    in.path = o.standardInput->Path();
    in.standardInput = true;
  }
  if (o.recursive) {
    const NamePattern& names = o.names;
    o.skipped = DropOwnFrames(o.inputs, [&names](const std::string& file, const Input& source) {
      const std::string name = sys::Utf8Of(sys::PathOf(source.path).filename());
      const SourceParts parts = PartsOf(name);
      return names.For(parts.stem, parts.name).Matches(file, ".gif");
    });
  }
  if (!o.from.empty()) {
    std::string problem;
    const auto text = ReadListText(o.from, problem);
    if (!text) return Refused("--from " + o.from + ": " + problem);
    if (const auto wrong = ListProblem(*text, o.nul))
      return Refused("--from " + o.from + ": " + *wrong);
    AddList(*text, o.nul, o.inputs);
  }
  if (o.inputs.empty() && o.unreadable.empty() && o.skipped == 0) {
    return UsageError("no files to split");
  }
  return std::nullopt;
}
