// Command-line converter over the same catalog and engine as the window.
#include <cstdio>
#include <cstring>

namespace {

void PrintUsage(FILE *AOut) {
  std::fputs("Usage: lingchuan-cli [--help]\n"
             "Converts video and audio files with the converter's device profiles.\n"
             "  -h, --help   show this help and exit\n",
             AOut);
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    PrintUsage(stdout);
    return 0;
  }
  PrintUsage(stderr);
  return 2;
}
