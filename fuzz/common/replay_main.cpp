// A main() for building the harnesses without libFuzzer: every file named on
// the command line, and every file below every folder named there, is run once
// through the harness. A failed check aborts, as it would under the fuzzer.
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <cstring>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

// Named on stderr when a check or a sanitizer aborts the run (sanitizers do so
// with abort_on_error=1), so the failing file is known.
const char* current_input = nullptr;

void name_current_input(int sig) {
  if (current_input != nullptr) {
    const char prefix[] = "\nreplay: failing input: ";
    [[maybe_unused]] auto r1 = write(2, prefix, sizeof(prefix) - 1);
    [[maybe_unused]] auto r2 = write(2, current_input, std::strlen(current_input));
    [[maybe_unused]] auto r3 = write(2, "\n", 1);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

std::vector<std::filesystem::path> inputs_below(const std::filesystem::path& root) {
  std::vector<std::filesystem::path> out;
  if (std::filesystem::is_directory(root)) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
      if (e.is_regular_file() && e.path().filename().string().front() != '.' && e.path().extension() != ".md")
        out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
  } else {
    out.push_back(root);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGABRT, name_current_input);
  std::signal(SIGSEGV, name_current_input);
  std::size_t files = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path root(argv[i]);
    if (!std::filesystem::exists(root)) {
      std::fprintf(stderr, "replay: %s does not exist\n", argv[i]);
      return 2;
    }
    for (const auto& path : inputs_below(root)) {
      std::ifstream in(path, std::ios::binary);
      const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return 2;
      }
      // A copy of exactly the input's size, so a read past its end is caught.
      std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
      const std::string name = path.string();
      current_input = name.c_str();
      LLVMFuzzerTestOneInput(data.data(), data.size());
      current_input = nullptr;
      ++files;
    }
  }
  std::printf("replayed %zu files\n", files);
  return 0;
}
