// Replays kept fuzz inputs as an ordinary test: every file of the folders (or files) named on
// the command line goes once through the target, so that what fuzzing once found is checked by
// every build, without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int Replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    return LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                  bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path where = argv[i];
        if (std::filesystem::is_directory(where)) {
            for (const auto& entry : std::filesystem::directory_iterator(where)) {
                if (!entry.is_regular_file())
                    continue;
                Replay(entry.path());
                ++replayed;
            }
        } else if (std::filesystem::is_regular_file(where)) {
            Replay(where);
            ++replayed;
        }
    }
    std::printf("replayed %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
