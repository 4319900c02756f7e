// The library frame: version record, aligned allocation through the hooks, and the exported
// symbol set of the shared library against the public headers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <cctype>
#include <set>
#include <sstream>
#include <string>

#include "zufack9/zufack9.h"

namespace {

TEST(Version, RecordFields) {
    const LibVersionRecord* v = zufacGetLibVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v, zufacGetLibVersion());
    EXPECT_EQ(v->versionMajor, 5);
    EXPECT_EQ(v->versionMinor, 2);
    EXPECT_EQ(v->buildMajor, 108);
    EXPECT_EQ(v->buildNumber, 366);
    EXPECT_EQ(std::memcmp(v->cpuTag, "k9\0\0", 4), 0);
    EXPECT_STREQ(v->libName, "libzufack9.so.5.2");
    EXPECT_STREQ(v->versionText, "5.2");
    EXPECT_STREQ(v->buildDate, "Jul 11 2007");
#if defined(__i386__)
    static_assert(sizeof(LibVersionRecord) == 32);
    static_assert(offsetof(LibVersionRecord, cpuTag) == 16);
    static_assert(offsetof(LibVersionRecord, libName) == 20);
    static_assert(offsetof(LibVersionRecord, buildDate) == 28);
#endif
}

TEST(Version, HookWords) {
    EXPECT_EQ(i_version, 1);
    EXPECT_EQ(i_min_version, 0);
}

// Replaces the allocator hooks for one test and counts the calls.
struct CountingHooks {
    static inline int mallocs = 0, frees = 0;
    static inline size_t last_size = 0;
    static inline void* last_raw = nullptr;
    static inline bool fail = false;
    static void* my_malloc(size_t n) {
        ++mallocs;
        last_size = n;
        last_raw = fail ? nullptr : std::malloc(n);
        return last_raw;
    }
    static void my_free(void* p) {
        ++frees;
        last_raw = p;
        std::free(p);
    }
    void* (*saved_malloc)(size_t) = i_malloc;
    void (*saved_free)(void*) = i_free;
    CountingHooks() {
        mallocs = frees = 0;
        fail = false;
        i_malloc = my_malloc;
        i_free = my_free;
    }
    ~CountingHooks() {
        i_malloc = saved_malloc;
        i_free = saved_free;
    }
};

TEST(Allocation, HooksInitialisedToThePlatformAllocator) {
    EXPECT_EQ(i_malloc, &std::malloc);
    EXPECT_EQ(i_calloc, &std::calloc);
    EXPECT_EQ(i_realloc, &std::realloc);
    EXPECT_EQ(i_free, &std::free);
}

TEST(Allocation, AlignedBlocksGoThroughTheHooks) {
    CountingHooks hooks;
    for (int len : {1, 3, 31, 32, 33, 1000, 65537}) {
        for (int kind = 0; kind < 2; ++kind) {
            void* p = kind == 0 ? static_cast<void*>(zufsMalloc_8u(len)) : static_cast<void*>(zufsMalloc_32f(len));
            ASSERT_NE(p, nullptr);
            const size_t bytes = static_cast<size_t>(len) * (kind == 0 ? 1 : 4);
            // Request: the size plus 32 bytes of alignment slack plus the raw-address slot
            // (36 bytes on 32-bit x86).
            EXPECT_EQ(CountingHooks::last_size, bytes + 32 + sizeof(void*));
            const auto raw = reinterpret_cast<uintptr_t>(CountingHooks::last_raw);
            const auto a = reinterpret_cast<uintptr_t>(p);
            EXPECT_EQ(a % 32, 0u);
            EXPECT_GE(a, raw + sizeof(void*));
            EXPECT_LE(a + bytes, raw + CountingHooks::last_size);
            EXPECT_EQ(a, (raw + sizeof(void*) + 31) & ~uintptr_t{31});
            void* stored;
            std::memcpy(&stored, static_cast<char*>(p) - sizeof(void*), sizeof(void*));
            EXPECT_EQ(stored, CountingHooks::last_raw);
            std::memset(p, 0x5A, bytes);  // the whole block is usable (ASan checks the bounds)
            const int frees = CountingHooks::frees;
            zufsFree(p);
            EXPECT_EQ(CountingHooks::frees, frees + 1);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(CountingHooks::last_raw), raw);
        }
    }
#if defined(__i386__)
    // The documented 32-bit layout: len + 36 bytes, (raw + 35) & ~31.
    void* p = zufsMalloc_8u(10);
    EXPECT_EQ(CountingHooks::last_size, 46u);
    zufsFree(p);
#endif
}

TEST(Allocation, NonPositiveLengthsAndNullFree) {
    CountingHooks hooks;
    EXPECT_EQ(zufsMalloc_8u(0), nullptr);
    EXPECT_EQ(zufsMalloc_8u(-5), nullptr);
    EXPECT_EQ(zufsMalloc_32f(0), nullptr);
    EXPECT_EQ(zufsMalloc_32f(-1), nullptr);
    zufsFree(nullptr);
    EXPECT_EQ(CountingHooks::mallocs, 0);
    EXPECT_EQ(CountingHooks::frees, 0);
}

TEST(Allocation, FailingHookGivesNull) {
    CountingHooks hooks;
    CountingHooks::fail = true;
    EXPECT_EQ(zufsMalloc_8u(64), nullptr);
    EXPECT_EQ(zufsMalloc_32f(64), nullptr);
    EXPECT_EQ(CountingHooks::mallocs, 2);
}

// ---------------------------------------------------------------- exported symbol set

// The identifier that ends at position `end` (exclusive) of `s`, skipping blanks before it.
std::string identifier_before(const std::string& s, size_t end) {
    while (end > 0 && std::isspace(static_cast<unsigned char>(s[end - 1]))) --end;
    size_t begin = end;
    while (begin > 0 && (std::isalnum(static_cast<unsigned char>(s[begin - 1])) || s[begin - 1] == '_')) --begin;
    return s.substr(begin, end - begin);
}

// Names declared by the public headers: every declaration starts with ZUF_API and runs to its
// ';'. Functions: the name before the first '('. Data: the name before the ';', or inside
// "(*name)" for the allocator hooks.
std::set<std::string> declared_in_public_headers() {
    std::set<std::string> names;
    const std::filesystem::path dir = std::filesystem::path(ZUF_SOURCE_DIR) / "include" / "zufack9";
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        std::ifstream f(e.path());
        std::stringstream ss;
        ss << f.rdbuf();
        const std::string text = ss.str();
        for (size_t at = text.find("ZUF_API "); at != std::string::npos; at = text.find("ZUF_API ", at + 1)) {
            if (at >= 7 && text.compare(at - 7, 7, "define ") == 0) continue;  // the macro itself
            const std::string decl = text.substr(at, text.find(';', at) - at);
            const size_t fnptr = decl.find("(*");
            if (fnptr != std::string::npos) {
                names.insert(identifier_before(decl, decl.find(')', fnptr)));
            } else if (decl.find('(') != std::string::npos) {
                names.insert(identifier_before(decl, decl.find('(')));
            } else {
                std::string d = decl;
                while (!d.empty() && d.back() == ']') d.erase(d.rfind('['));  // arrays
                names.insert(identifier_before(d, d.size()));
            }
        }
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
