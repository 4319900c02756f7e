// Runs a libFuzzer harness without libFuzzer: every file under the given directories (the
// committed vectors), then --iterations inputs made from them by seeded random mutation
// (byte flips, truncation, splices) and purely random buffers. Deterministic for a given
// --seed, so a failure reproduces. Run it under the sanitizer build to catch bad accesses.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::vector<uint8_t>> load_corpus(const std::vector<std::string>& dirs) {
    std::vector<std::vector<uint8_t>> corpus;
    for (const auto& d : dirs) {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(d, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_regular_file() || it->file_size() > (1u << 20)) continue;
            std::ifstream f(it->path(), std::ios::binary);
            corpus.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        }
    }
    return corpus;
}

// Feeds the harness an exact-size heap copy so ASan sees any read past the end.
void run(const std::vector<uint8_t>& in) {
    auto* buf = static_cast<uint8_t*>(std::malloc(in.size() ? in.size() : 1));
    if (!in.empty()) std::memcpy(buf, in.data(), in.size());
    LLVMFuzzerTestOneInput(buf, in.size());
    std::free(buf);
}

}  // namespace

int main(int argc, char** argv) {
    long iterations = 100000;
    unsigned seed = 1;
    std::vector<std::string> dirs;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--iterations") && i + 1 < argc)
            iterations = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc)
            seed = static_cast<unsigned>(std::atol(argv[++i]));
        else
            dirs.emplace_back(argv[i]);
    }
    auto corpus = load_corpus(dirs);
    for (const auto& c : corpus) run(c);

    std::mt19937 rng(seed);
    std::vector<uint8_t> in;
    for (long n = 0; n < iterations; ++n) {
        if (!corpus.empty() && (rng() & 3) != 0) {
            const auto& src = corpus[rng() % corpus.size()];
            size_t start = src.empty() ? 0 : rng() % src.size();
            size_t len = std::min<size_t>(src.size() - start, 1 + rng() % 4096);
            in.assign(src.begin() + static_cast<long>(start), src.begin() + static_cast<long>(start + len));
            for (int flips = static_cast<int>(rng() % 8); flips > 0 && !in.empty(); --flips)
                in[rng() % in.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        } else {
            in.resize(rng() % 512);
            for (auto& b : in) b = static_cast<uint8_t>(rng());
        }
        run(in);
    }
    std::printf("%zu corpus files and %ld generated inputs ran cleanly\n", corpus.size(), iterations);
    return 0;
}
