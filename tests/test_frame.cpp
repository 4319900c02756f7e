// The library frame: version record, aligned allocation through the hooks, and the exported
// symbol set of the shared library against the public headers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "support/alloc_hooks.h"
#include "zufack9/zufack9.h"

namespace {

TEST(Version, RecordAndHookWords) {
    const LibVersionRecord* v = zufacGetLibVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v, zufacGetLibVersion());
    const auto words =
        std::make_tuple(v->versionMajor, v->versionMinor, v->buildMajor, v->buildNumber, i_version, i_min_version);
    EXPECT_EQ(words, std::make_tuple(5, 2, 108, 366, 1, 0));
    EXPECT_EQ(std::memcmp(v->cpuTag, "k9\0\0", 4), 0);
    EXPECT_EQ(std::string(v->libName) + "|" + v->versionText + "|" + v->buildDate, "libzufack9.so.5.2|5.2|Jul 11 2007");
#if defined(__i386__)
    static_assert(sizeof(LibVersionRecord) == 32);
    static_assert(offsetof(LibVersionRecord, cpuTag) == 16);
    static_assert(offsetof(LibVersionRecord, libName) == 20);
    static_assert(offsetof(LibVersionRecord, buildDate) == 28);
#endif
}

TEST(Allocation, AlignedBlocksGoThroughTheHooks) {
    EXPECT_TRUE(i_malloc == &std::malloc && i_calloc == &std::calloc && i_realloc == &std::realloc &&
                i_free == &std::free);  // the platform allocator until replaced
    for (std::size_t offset = 0; offset < 32; offset += sizeof(void*)) {
        zuft::CountingHooks hooks(0, offset);
        for (int len : {1, 3, 31, 32, 33, 1000, 65537}) {
            for (int kind = 0; kind < 2; ++kind) {
                void* p = kind == 0 ? static_cast<void*>(zufsMalloc_8u(len)) : static_cast<void*>(zufsMalloc_32f(len));
                ASSERT_NE(p, nullptr);
                const size_t bytes = static_cast<size_t>(len) * (kind == 0 ? 1 : 4);
                // Request: the size plus 32 bytes of alignment slack plus the raw-address slot
                // (36 bytes on 32-bit x86); the block at the first 32-byte boundary past the slot.
                EXPECT_EQ(hooks.last_size, bytes + 32 + sizeof(void*));
                const auto raw = reinterpret_cast<uintptr_t>(hooks.last_raw);
                EXPECT_EQ(reinterpret_cast<uintptr_t>(p), (raw + sizeof(void*) + 31) & ~uintptr_t{31});
                void* stored;
                std::memcpy(&stored, static_cast<char*>(p) - sizeof(void*), sizeof(void*));
                EXPECT_EQ(stored, hooks.last_raw);
                std::memset(p, 0x5A, bytes);  // the whole block is usable (ASan checks the bounds)
                const int frees = hooks.frees;
                zufsFree(p);
                EXPECT_EQ(hooks.frees, frees + 1);
                EXPECT_EQ(reinterpret_cast<uintptr_t>(hooks.last_raw), raw);
            }
        }
    }
    zuft::CountingHooks hooks;
    const int mallocs = hooks.mallocs, frees = hooks.frees;
    for (int len : {0, -5}) EXPECT_TRUE(zufsMalloc_8u(len) == nullptr && zufsMalloc_32f(len) == nullptr);
    zufsFree(nullptr);
    EXPECT_TRUE(hooks.mallocs == mallocs && hooks.frees == frees);
    zuft::CountingHooks failing(1);
    EXPECT_EQ(zufsMalloc_8u(64), nullptr);
    EXPECT_EQ(zufsMalloc_32f(64), nullptr);
    EXPECT_EQ(failing.mallocs, 2);
}

// ---------------------------------------------------------------- exported symbol set

// Names declared by the public headers: every declaration is a line starting with ZUF_API and runs
// to its ';'. The name is its first identifier followed by '(' but not "(*" (functions), by ')'
// ("(*name)", the allocator hooks), '[' (arrays) or ';' (other data).
std::set<std::string> declared_in_public_headers() {
    static const std::regex decl(R"(\nZUF_API [^;]*?(\w+)\s*(?:\((?!\*)|[)\[;]))");
    std::set<std::string> names;
    for (const auto& e :
         std::filesystem::directory_iterator(std::filesystem::path(ZUF_SOURCE_DIR) / "include/zufack9")) {
        std::stringstream ss;
        ss << "\n" << std::ifstream(e.path()).rdbuf();
        const std::string text = ss.str();
        for (std::sregex_iterator m(text.begin(), text.end(), decl), end; m != end; ++m) names.insert((*m)[1]);
    }
    return names;
}

std::set<std::string> exported_by_shared_library() {
    std::set<std::string> names;
    const std::string cmd = std::string("nm -D --defined-only '") + ZUF_SHARED_LIBRARY + "' 2>/dev/null";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        char addr[64], type[8], name[400];
        if (std::sscanf(line, "%63s %7s %399s", addr, type, name) != 3) continue;
        // AddressSanitizer adds an __odr_asan.* indicator beside each exported variable.
        if (std::strncmp(name, "__odr_asan", 10) == 0) continue;
        names.insert(name);
    }
    pclose(pipe);
    return names;
}

TEST(Exports, SharedLibraryExportsExactlyThePublicDeclarations) {
    const auto declared = declared_in_public_headers();
    const auto exported = exported_by_shared_library();
    ASSERT_FALSE(exported.empty()) << "could not read the dynamic symbols of " << ZUF_SHARED_LIBRARY;
    ASSERT_GT(declared.size(), 40u);
    for (const auto& n : declared) EXPECT_TRUE(exported.count(n)) << n << " is declared but not exported";
    for (const auto& n : exported) EXPECT_TRUE(declared.count(n)) << n << " is exported but not declared";
    // The hooks and version words are exported data.
    for (const char* n : {"i_malloc", "i_calloc", "i_realloc", "i_free", "i_version", "i_min_version"})
        EXPECT_TRUE(exported.count(n)) << n;
}

}  // namespace
