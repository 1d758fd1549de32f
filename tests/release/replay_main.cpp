// Replays fuzz inputs without libFuzzer: every file found in the folders or
// files named on the command line goes once through the target's
// LLVMFuzzerTestOneInput. A target that finds a fault traps, so the test
// fails; a run that finds no input at all fails too, so that a moved corpus
// is noticed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/startup/standard_options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto done =
            dorvane::HandleStandardOptions(argc, argv, "replay",
                                           "usage: replay_TARGET FOLDER_OR_FILE...\n"
                                           "Runs every input once through the fuzz target; fails "
                                           "when an input finds a fault or none is found.\n"))
        return *done;
    std::size_t count = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            std::vector<std::filesystem::path> files;
            for (const auto& e : std::filesystem::directory_iterator(arg, ec))
                if (e.is_regular_file() && e.path().filename().string()[0] != '.') files.push_back(e.path());
            std::sort(files.begin(), files.end());
            for (const auto& f : files) {
                ok = Replay(f) && ok;
                ++count;
            }
        } else if (std::filesystem::is_regular_file(arg, ec)) {
            ok = Replay(arg) && ok;
            ++count;
        }
    }
    std::printf("%zu inputs replayed\n", count);
    return ok && count > 0 ? 0 : 1;
}
