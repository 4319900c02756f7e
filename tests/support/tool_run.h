// Runs the example programs (zufdec, zufinfo) as a user does: in a scratch directory of their
// own per test, under the emulator on 32-bit hosts, with a time limit against hangs.
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

namespace zuft {

struct ToolRun {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out, err;
};

inline std::string slurp(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

// A fixture for one program: program() is its path, empty when it was not built (the tests are
// then skipped).
class ToolTest : public testing::Test {
  protected:
    virtual std::string program() const = 0;

    void SetUp() override {
        if (program().empty()) GTEST_SKIP() << "the program was not built";
        std::string name = "zuf_tool_test_";
        name += std::to_string(::getpid());
        name += "_";
        name += testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    // Writes a file into the scratch directory; returns its path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        std::ofstream f(path(name), std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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
        r.out = slurp(path("stdout.txt"));
        r.err = slurp(path("stderr.txt"));
        return r;
    }

    std::filesystem::path dir_;
};

}  // namespace zuft
