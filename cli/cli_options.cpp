#include "cli_options.h"

#include "choice_lists.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace {

constexpr int MaxJobs = 64;

struct TChoiceOption {
  const char *Name;
  TChoiceList List;
};
// In the order of the help page.
constexpr TChoiceOption ChoiceOptions[] = {
    {"--resolution", TChoiceList::clResolution},
    {"--video-bitrate", TChoiceList::clVideoBitrate},
    {"--audio-bitrate", TChoiceList::clAudioBitrate},
    {"--aspect", TChoiceList::clAspect},
    {"--frame-rate", TChoiceList::clFrameRate},
    {"--sample-rate", TChoiceList::clSampleRate},
};

struct TPriorityName {
  const char *Name;
  TThreadPriority Priority;
};
constexpr TPriorityName PriorityNames[] = {
    {"idle", tpIdle}, {"lowest", tpLowest}, {"lower", tpLower}, {"normal", tpNormal}};

std::string Quoted(const std::string &AText) {
  return "'" + AText + "'";
}

// A decimal number of at most 9 digits without sign or blanks; nullopt otherwise.
std::optional<int> SmallNumber(std::string_view AText) {
  if (AText.empty() || AText.size() > 9 ||
      !std::all_of(AText.begin(), AText.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  int n = 0;
  for (char c : AText)
    n = n * 10 + (c - '0');
  return n;
}

std::string_view TrimBlanks(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t'))
    S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t'))
    S.remove_suffix(1);
  return S;
}

void ParseProfile(const std::string &AText, TCliOptions &AOptions) {
  const size_t dot = AText.find('.');
  const std::optional<int> c =
      dot == std::string::npos ? std::nullopt : SmallNumber(std::string_view(AText).substr(0, dot));
  const std::optional<int> p = dot == std::string::npos
                                   ? std::nullopt
                                   : SmallNumber(std::string_view(AText).substr(dot + 1));
  if (!c || !p || FindProfile(*c, *p) == nullptr)
    throw EUsageError("unknown profile " + Quoted(AText) +
                      ": give it as C.P from the list of lingchuan-cli --list");
  AOptions.Category = *c;
  AOptions.Profile = *p;
}

} // namespace

std::string ChoiceOptionName(TChoiceList AList) {
  for (const TChoiceOption &o : ChoiceOptions)
    if (o.List == AList)
      return o.Name;
  return {};
}

TCliOptions ParseCommandLine(const std::vector<std::string> &AArgs) {
  TCliOptions o;
  bool help = false, list = false, info = false, profile = false;
  std::string conversionOption; // the first option that only -p uses
  const auto conversion = [&](const std::string &AName) {
    if (conversionOption.empty())
      conversionOption = AName;
  };

  for (size_t i = 0; i < AArgs.size(); ++i) {
    const std::string &arg = AArgs[i];
    if (arg == "--") {
      o.Files.insert(o.Files.end(), AArgs.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                     AArgs.end());
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') {
      o.Files.push_back(arg);
      continue;
    }
    // --name=value, --name value, -n value, -nvalue.
    std::string name = arg;
    std::optional<std::string> attached;
    if (arg.compare(0, 2, "--") == 0) {
      if (const size_t eq = arg.find('='); eq != std::string::npos) {
        name = arg.substr(0, eq);
        attached = arg.substr(eq + 1);
      }
    } else if (arg.size() > 2) {
      name = arg.substr(0, 2);
      attached = arg.substr(2);
    }
    const auto value = [&]() -> std::string {
      if (attached)
        return *attached;
      if (i + 1 >= AArgs.size())
        throw EUsageError("option " + name + " needs a value");
      return AArgs[++i];
    };
    const auto flag = [&] {
      if (attached)
        throw EUsageError("option " + name + " takes no value");
    };

    if (name == "-h" || name == "--help") {
      flag();
      help = true;
    } else if (name == "--list") {
      flag();
      list = true;
    } else if (name == "--info") {
      info = true;
      o.Files.push_back(value());
    } else if (name == "-p" || name == "--profile") {
      profile = true;
      ParseProfile(value(), o);
    } else if (name == "-o" || name == "--output") {
      conversion(name);
      o.OutputFolder = value();
      if (o.OutputFolder.empty())
        throw EUsageError("option " + name + " needs a folder");
    } else if (name == "-j" || name == "--jobs") {
      conversion(name);
      const std::string text = value();
      const std::optional<int> n = SmallNumber(text);
      if (!n || *n < 1 || *n > MaxJobs)
        throw EUsageError("option " + name + " takes a number from 1 to " +
                          std::to_string(MaxJobs) + ", not " + Quoted(text));
      o.Jobs = *n;
    } else if (name == "--priority") {
      conversion(name);
      const std::string text = value();
      const auto *found = std::find_if(std::begin(PriorityNames), std::end(PriorityNames),
                                       [&](const TPriorityName &p) { return text == p.Name; });
      if (found == std::end(PriorityNames))
        throw EUsageError("option --priority takes idle, lowest, lower or normal, not " +
                          Quoted(text));
      o.Priority = found->Priority;
    } else if (name == "--overwrite") {
      flag();
      conversion(name);
      o.Overwrite = true;
    } else if (name == "-v" || name == "--verbose") {
      flag();
      o.Verbose = true;
    } else if (name == "-x") {
      conversion(name);
      const std::string text = value();
      const size_t eq = text.find('=');
      // One line of the option text each: a line break would smuggle in another option.
      if (eq == std::string::npos || TrimBlanks(std::string_view(text).substr(0, eq)).empty() ||
          text.find_first_of("\r\n") != std::string::npos)
        throw EUsageError("option -x takes NAME=VALUE, not " + Quoted(text));
      o.ExtraOptions.push_back(text);
    } else {
      const auto *choice = std::find_if(std::begin(ChoiceOptions), std::end(ChoiceOptions),
                                        [&](const TChoiceOption &c) { return name == c.Name; });
      if (choice == std::end(ChoiceOptions))
        throw EUsageError("unknown option " + Quoted(name) + " (see lingchuan-cli --help)");
      conversion(name);
      o.Choices[ListIndex(choice->List)] = std::string(TrimBlanks(value()));
    }
  }

  if (help) {
    o.Command = TCliCommand::ccHelp;
    return o;
  }
  if (int(list) + int(info) + int(profile) > 1)
    throw EUsageError("--list, --info and -p cannot be combined");
  if (list) {
    if (!o.Files.empty())
      throw EUsageError("--list takes no files");
    o.Command = TCliCommand::ccList;
  } else if (info) {
    if (o.Files.size() != 1)
      throw EUsageError("--info takes one file");
    o.Command = TCliCommand::ccInfo;
  } else if (profile) {
    if (o.Files.empty())
      throw EUsageError("no files to convert");
    o.Command = TCliCommand::ccConvert;
  } else if (!o.Files.empty() || !conversionOption.empty()) {
    throw EUsageError("no profile given: add -p C.P (lingchuan-cli --list shows them)");
  } else {
    o.Command = TCliCommand::ccUsage;
  }
  if (o.Command != TCliCommand::ccConvert && !conversionOption.empty())
    throw EUsageError("option " + conversionOption + " is used with -p only");
  return o;
}

std::array<int, ChoiceListCount> ResolveChoices(const TCliOptions &AOptions,
                                                const TProfile &AProfile) {
  TChoiceSelection selection = DefaultSelection(AProfile);
  for (TChoiceList list : AllChoiceLists) {
    const std::optional<std::string> &text = AOptions.Choices[ListIndex(list)];
    if (!text)
      continue;
    const std::optional<int> index = FindChoiceItem(AProfile, list, *text);
    if (index) {
      selection[ListIndex(list)] = *index;
      continue;
    }
    std::string items;
    for (std::string_view item : ChoiceItems(AProfile, list))
      items += (items.empty() ? "" : ", ") + std::string(item);
    throw EUsageError(ChoiceOptionName(list) + ": " + Quoted(*text) + " is not in the list of " +
                      std::string(AProfile.Caption) + "; its items are: " + items);
  }
  return selection;
}

std::string UsageText() {
  return R"(Usage: lingchuan-cli --list
       lingchuan-cli -p C.P [options] FILE...
       lingchuan-cli --info FILE
       lingchuan-cli --help

Converts video and audio files with the converter's output profiles, without a window.

Commands:
  --list               print every profile as C.P<TAB>category<TAB>name, one a line
                       (C is the category, P the profile, both counted from 0)
  -p, --profile C.P    convert each FILE with profile C.P
  --info FILE          print the details of a media file
  -h, --help           show this help

Options of -p:
  -o, --output DIR     output folder (default: the current folder; made when missing)
  --resolution T       the six choices of the profile, each given as the text of an item of
  --video-bitrate T    its list as the window shows it: "640*480", "768 kbps", "128 kbps",
  --audio-bitrate T    "宽屏视频16:9模式", "29.97", "44100". An omitted choice takes the
  --aspect T           profile's default; a text that is not in the profile's list is an
  --frame-rate T       error that names the list's items
  --sample-rate T
  -j, --jobs N         number of files converted at once, 1 to 64 (default 1)
  --priority P         idle, lowest, lower or normal (default normal)
  --overwrite          replace existing output files instead of adding _1, _2 ...
  -x NAME=VALUE        one more conversion option for every output; may be repeated
  -v, --verbose        also print the conversion log

Each FILE becomes DIR/NAME.EXT: its name with the profile's extension. The input itself and
the outputs of other files of the same run are never written over. On a terminal every running
file has a progress bar; otherwise one line per file and second at most. A failed file prints
its reason and leaves no output; Ctrl+C stops every conversion, closing each file it has
started so that it stays playable, and removes the outputs of files not started.

Exit status: 0 every file converted, 1 some file failed, 2 wrong command line or unusable
output folder, 130 stopped by Ctrl+C (SIGINT), 143 stopped by SIGTERM.

Example:
  lingchuan-cli -p 0.1 -o ~/videos --resolution "1280*720" trip.avi party.mov
)";
}
