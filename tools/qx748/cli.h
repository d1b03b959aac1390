#pragma once
// Shared plumbing of the qx748 commands: errors, argument checks, files.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace qx::cli {

// Any failure of a command: main prints "qx748: <what>" on one line of
// stderr and exits with status 2. Commands throw it before writing anything.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr int kExitError = 2;

// A command's entry: argv[0] is the command's own name, the rest its words.
using CommandFn = int (*)(int argc, char **argv);

// True when any word is --help or -h.
bool WantsHelp(int argc, char **argv);

// Words that are not options, in order; options must be among `allowed`
// (an unknown one is an Error). `flags` receives the options found.
std::vector<std::string> SplitArgs(int argc, char **argv, const std::vector<std::string> &allowed,
                                   std::vector<std::string> *flags);

bool FileExists(const std::string &path);
// Whole file; an Error when it cannot be read.
std::vector<unsigned char> ReadFile(const std::string &path);
// Replaces `path` through a temporary file beside it and a rename, so a
// failed write never leaves a half-written file behind.
void WriteFileReplacing(const std::string &path, const std::vector<unsigned char> &bytes);

}  // namespace qx::cli
