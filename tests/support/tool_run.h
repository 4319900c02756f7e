// Runs the example programs (zufdec, zufinfo) as a user does: in a scratch directory of their
// own per test, under the emulator on 32-bit hosts, with a time limit against hangs. And the
// in-memory decode of a whole stream that zufdec's output must equal.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "example/stream_decoder.h"

namespace zuft {

struct Decoded {
    std::vector<int16_t> pcm;  // interleaved
    DecodeStats st{};
    AacToolCounts tools{};
};

// The example decoder (what zufdec runs) on a whole stream in memory; sfb_long: a long band
// table for MP3 to decode with instead of the library's, or null; gapless: trim encoder delay
// and padding.
inline Decoded decode_memory(const std::vector<uint8_t>& bytes, const Zuf16s* sfb_long = nullptr, bool gapless = true) {
    Decoded r;
    Zuf16s* pcm = nullptr;
    stream_decode_memory(bytes.data(), bytes.size(), sfb_long, gapless ? 1 : 0, &pcm, &r.st, &r.tools);
    if (pcm) r.pcm.assign(pcm, pcm + r.st.samples * static_cast<unsigned long>(r.st.channels));
    std::free(pcm);
    return r;
}

struct ToolRun {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out, err;
};

inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

// A case for one program: the input file, the options before it, the exit status expected
// (-1: 0 or 1, it finishes either way; -2: any), fragments of what it prints (stdout or stderr).
struct ToolCase {
    std::vector<uint8_t> input;
    std::string options;
    int status;
    std::vector<std::string> says;
};

// A fixture for one program: program() is its path, empty when it was not built (the tests are
// then skipped); tail() the arguments after the input file.
class ToolTest : public testing::Test {
  protected:
    virtual std::string program() const = 0;
    virtual std::string tail() const { return ""; }

    void SetUp() override {
        if (program().empty()) GTEST_SKIP() << "the program was not built";
        std::string name = "zuf_tool_test_";
        name += std::to_string(::getpid()) + "_" + testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string slurp(const std::string& name) const {
        std::ifstream f(path(name), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    }
    // Writes a file into the scratch directory; returns its path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path(name);
    }
    // The program with `args` (quoted by the caller). The command is built by appending (GCC 12
    // warns falsely about prepending to a string).
    ToolRun run(const std::string& args) const {
        const std::string emulator = ZUF_EMULATOR;
        std::string cmd = "timeout 300 ";
        if (!emulator.empty()) cmd += quoted(emulator) + " ";
        cmd += quoted(program());
        cmd += " ";
        cmd += args;
        cmd += " >" + quoted(path("stdout.txt")) + " 2>" + quoted(path("stderr.txt"));
        const int rc = std::system(cmd.c_str());
        ToolRun r;
        if (rc != -1 && WIFEXITED(rc)) r.status = WEXITSTATUS(rc);
        r.out = slurp("stdout.txt");
        r.err = slurp("stderr.txt");
        return r;
    }
    ToolRun check(const ToolCase& c) const {
        const ToolRun r = run(c.options + " " + quoted(write("in", c.input)) + " " + tail());
        EXPECT_TRUE(r.status == c.status || c.status == -2 || (c.status == -1 && (r.status == 0 || r.status == 1)))
            << "status " << r.status << "\n"
            << r.err;
        for (const auto& s : c.says)
            EXPECT_NE((r.out + r.err).find(s), std::string::npos) << s << "\n" << r.out << r.err;
        return r;
    }

    std::filesystem::path dir_;
};

}  // namespace zuft
