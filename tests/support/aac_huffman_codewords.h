// The Huffman codewords of ISO/IEC 13818-7 (ISO/IEC 14496-3 Tables 4.A.1 to 4.A.12) as plain
// (length, code) pairs by codeword index, read from the standard's tables in tools/gen/data/:
// the tests encode with the published codes, never with the decoder's generated trees.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zuft::aac {

struct Codeword {
    int len;
    uint32_t code;  // right-aligned, first transmitted bit most significant
};

// Book 0: the scale-factor codebook (index = difference + 60); books 1..11: the spectral ones.
inline const std::vector<Codeword>& codebook(int book) {
    static const std::vector<std::vector<Codeword>> books = [] {
        std::vector<std::vector<Codeword>> b(12);
        for (const bool spectral : {false, true}) {
            const std::string path = std::string(ZUF_SOURCE_DIR) + "/tools/gen/data/aac_" +
                                     (spectral ? "spectral" : "scalefactor") + "_huffman.txt";
            std::ifstream f(path);
            for (std::string line; std::getline(f, line);) {
                if (line.empty() || line[0] == '#') continue;
                std::istringstream in(line);
                int cb = 0, index = 0, len = 0;
                std::string bits;
                if (spectral) in >> cb;
                in >> index >> len >> bits;
                auto& v = b[static_cast<size_t>(cb)];
                if (v.size() <= static_cast<size_t>(index)) v.resize(static_cast<size_t>(index) + 1);
                v[static_cast<size_t>(index)] = {len, static_cast<uint32_t>(std::stoul(bits, nullptr, 2))};
            }
        }
        const size_t entries[12] = {121, 81, 81, 81, 81, 81, 81, 64, 64, 169, 169, 289};
        for (size_t i = 0; i < 12; ++i)
            if (b[i].size() != entries[i]) {
                std::fprintf(stderr, "aac_huffman_codewords.h: codebook %zu incomplete in tools/gen/data\n", i);
                std::abort();
            }
        return b;
    }();
    return books[static_cast<size_t>(book)];
}

}  // namespace zuft::aac
