// tessivo-tool: the command-line companion of the marker editor, for scripts, checks and batch work.
#include "tools/ToolCommand.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>

#include <sys/stat.h>

namespace {

std::map<std::string, ToolCommand>& Registry() {
    static std::map<std::string, ToolCommand> commands;
    return commands;
}

}  // namespace

bool RegisterToolCommand(ToolCommand command) {
    const std::string name = command.name;
    Registry()[name] = std::move(command);
    return true;
}

std::vector<ToolCommand> ToolCommands() {
    std::vector<ToolCommand> out;
    for (const auto& [name, command] : Registry()) out.push_back(command);
    return out;
}

void ToolError(const std::string& reason) { std::cerr << "tessivo-tool: " << reason << "\n"; }

void PrintUsage(const std::string& command) {
    std::cout << "Usage:\n";
    for (const ToolCommand& c : ToolCommands())
        if (command.empty() || c.name == command) std::cout << "  tessivo-tool " << c.synopsis << "\n";
    std::cout << "  tessivo-tool --help\n";
    for (const ToolCommand& c : ToolCommands())
        if (command.empty() || c.name == command) std::cout << "\n" << c.name << ": " << c.summary << "\n";
    std::cout << "\nExit status: 0 on success, 1 when the file cannot be read or written, 2 for wrong usage,\n"
                 "3 when write --check finds markers out of order.\n";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string OneLine(const std::string& text) {
    std::string out = text;
    std::replace_if(out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    return out;
}

std::string InputFileProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "no such file: " + path;
        return path + ": " + std::strerror(errno);
    }
    if (S_ISREG(st.st_mode)) return {};
    const char* what = S_ISDIR(st.st_mode)    ? "a folder"
                       : S_ISFIFO(st.st_mode) ? "a named pipe (FIFO)"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                              : "not a regular file";
    return path + ": is " + what + ", not an audio file";
}

bool IsHelpOption(const std::string& arg) { return arg == "--help" || arg == "-h"; }

std::string ParseToolArgs(const std::vector<std::string>& args, const std::set<std::string>& flags,
                          const std::set<std::string>& valued, ToolArgs& out) {
    bool options = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!options || a.size() < 2 || a[0] != '-') {
            out.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            options = false;
            continue;
        }
        if (IsHelpOption(a)) {
            out.help = true;
            continue;
        }
        const size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        if (valued.count(name)) {
            if (eq != std::string::npos) {
                out.values.emplace_back(name, a.substr(eq + 1));
            } else if (i + 1 < args.size()) {
                out.values.emplace_back(name, args[++i]);
            } else {
                return "option " + name + " needs a value";
            }
        } else if (flags.count(a)) {
            out.flags.insert(a);
        } else {
            return "unknown option: " + a;
        }
    }
    return {};
}

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        ToolError("no command given (try --help)");
        return ExitUsage;
    }
    if (IsHelpOption(args[0]) || args[0] == "help") {
        PrintUsage(args.size() > 1 ? args[1] : std::string());
        return ExitOk;
    }
    const auto& registry = Registry();
    const auto it = registry.find(args[0]);
    if (it == registry.end()) {
        ToolError((args[0].rfind('-', 0) == 0 ? "unknown option: " : "unknown command: ") + args[0] + " (try --help)");
        return ExitUsage;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    try {
        return it->second.run(rest);
    } catch (const std::exception& e) {
        ToolError(e.what());
        return ExitFailure;
    }
}
