// Runs a fuzz entry point over files or folders named on the command line,
// without libFuzzer: the checked-in corpus becomes an ordinary regression test.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool runFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

int main(int argc, char** argv) {
    int count = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path arg(argv[i]);
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, ec)) {
                if (entry.is_regular_file()) {
                    ok = runFile(entry.path()) && ok;
                    ++count;
                }
            }
        } else {
            ok = runFile(arg) && ok;
            ++count;
        }
    }
    std::printf("%d inputs ran without a crash\n", count);
    return ok && count > 0 ? 0 : 1;
}
