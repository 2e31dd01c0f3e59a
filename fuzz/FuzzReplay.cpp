// A plain main for a fuzz target, built with the normal compiler: it feeds every file named
// on the command line (or found in a named folder, in name order) to the target's
// LLVMFuzzerTestOneInput once. The normal build runs it over the target's seed corpus and
// its saved crash inputs, so every build re-checks them without libFuzzer.
//
// A path that does not exist is skipped (a target may have no saved crashes yet); a run that
// fed no input at all fails, so a corpus that went missing is noticed. A failing input ends
// the process as it would under libFuzzer (abort, trap or a sanitizer report); the file's
// name is printed before each input so the report names it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool feed(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "input %s (%zu bytes)\n", file.c_str(), bytes.size());
  // A copy of exactly the input's size, so reads past its end are caught by the sanitizers.
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  const int rc = LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
  if (rc != 0 && rc != -1) {
    std::fprintf(stderr, "%s: the target returned %d\n", file.c_str(), rc);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  size_t fed = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    std::error_code ec;
    if (fs::is_directory(path, ec)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(path, ec))
        if (entry.is_regular_file(ec)) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto& f : files) {
        ok = feed(f) && ok;
        ++fed;
      }
    } else if (fs::exists(path, ec)) {
      ok = feed(path) && ok;
      ++fed;
    }
  }
  if (fed == 0) {
    std::fprintf(stderr, "no input found\n");
    return 1;
  }
  std::fprintf(stderr, "%zu inputs replayed\n", fed);
  return ok ? 0 : 1;
}
