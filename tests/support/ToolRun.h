#pragma once
// One of our command-line tools run as a program in a folder: its exit status and what it wrote
// on its standard output and error (kept in the folder as stdout.txt and stderr.txt).
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/FormatReaders.h"
#include "support/MagickReader.h"

namespace testimage {

struct ToolRun {
    int status = 0;
    std::string out, err;
};

inline ToolRun RunTool(const std::filesystem::path& folder, const std::string& program, const std::string& arguments) {
    const std::string command = "cd " + ShellQuote(folder.string()) + " && " + ShellQuote(program) + " " + arguments +
                                " > stdout.txt 2> stderr.txt";
    const int status = std::system(command.c_str());
    ToolRun r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<std::uint8_t> out = ReadBytes(folder / "stdout.txt"), err = ReadBytes(folder / "stderr.txt");
    r.out.assign(out.begin(), out.end());
    r.err.assign(err.begin(), err.end());
    return r;
}

}  // namespace testimage
