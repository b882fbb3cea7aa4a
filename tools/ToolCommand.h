// The subcommands of tessivo-tool. Each lives in its own file and adds itself to the tool with a
// static registration, so a new subcommand is one new file:
//
//     static const bool registered = RegisterToolCommand({"name", "name [--x] FILE", "What it does.", Run});
#pragma once

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct ToolCommand {
    std::string name;      // the word after "tessivo-tool"
    std::string synopsis;  // the usage line, without "tessivo-tool "
    std::string summary;   // what it does, one or more lines of help
    // Runs with the arguments after the name; returns the exit code (0 success, 1 failure,
    // 2 wrong usage, 3 a check found problems), having printed any reason on stderr.
    std::function<int(const std::vector<std::string>& args)> run;
};

// Adds a command; returns true so that it can initialise a static.
bool RegisterToolCommand(ToolCommand command);
// The commands, in the order of their names.
std::vector<ToolCommand> ToolCommands();

// Exit codes shared by the commands.
constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
constexpr int ExitCheck = 3;  // write --check found markers out of order; nothing written

// Prints "tessivo-tool: <reason>" on stderr.
void ToolError(const std::string& reason);
// Prints the usage text (all commands, or one) on stdout.
void PrintUsage(const std::string& command = {});

// A JSON string literal of a UTF-8 text.
std::string JsonString(const std::string& text);
// A text on one line: control characters become blanks.
std::string OneLine(const std::string& text);
// Why a path cannot be read as an input file: "no such file: P", "P: is a folder, not an audio
// file" (a named pipe, a device, a socket), "P: <system reason>"; empty for a regular file.
std::string InputFileProblem(const std::string& path);
// True when the argument asks for help.
bool IsHelpOption(const std::string& arg);

// Converts an MP3 or wave file into the PCM wave the editor would show (its import chain, no
// dialog), replacing output; progress gets percentages when given. Returns empty on success,
// else the one-line reason (output is then removed).
std::string ImportAudioFile(const std::string& input, const std::string& output,
                            const std::function<void(int percent)>& progress = {});

// The arguments of one command, split by ParseToolArgs.
struct ToolArgs {
    std::vector<std::string> positional;
    std::set<std::string> flags;                              // "--json"
    std::vector<std::pair<std::string, std::string>> values;  // ("--comment", "text"), in order
    bool help = false;                                        // --help or -h among the options
};

// Splits the arguments: `flags` name the options without a value, `valued` those with one (given as
// "--opt VALUE" or "--opt=VALUE"); "--" ends the options. Returns the one-line reason of an error
// (unknown option, missing value), or empty.
std::string ParseToolArgs(const std::vector<std::string>& args, const std::set<std::string>& flags,
                          const std::set<std::string>& valued, ToolArgs& out);
