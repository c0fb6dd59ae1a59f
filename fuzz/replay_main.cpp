// Runs a fuzz target's entry point over files and folders given on the command line, so the
// seed corpus and every crash ever found are replayed by the ordinary test suite.
#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int g_inputs = 0;  // files replayed

void Replay(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return;  // a seed folder that is not there (the shared corpus outside a checkout)
    }
    if (S_ISDIR(info.st_mode)) {
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr) return;
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
        }
        closedir(dir);
        for (const std::string& name : names) Replay(path + "/" + name);
        return;
    }
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay %s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++g_inputs;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) Replay(argv[i]);
    std::printf("%d inputs replayed\n", g_inputs);
    return 0;
}
