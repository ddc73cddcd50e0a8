#pragma once
// Running qovtool from the tests of the tool: its path, the test data, and one run with its
// exit code and its stdout and stderr kept apart.

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/TempTestFolder.h"

namespace qovtoolrun {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string Tool() {
    return std::string(QOV_PROGRAMS_DIR) + "/../qovtool";
}

inline std::string Data(const std::string& relative) {
    return std::string(QOV_TESTDATA_DIR) + "/" + relative;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

// Runs a program with the arguments (each quoted), in the folder `cwd` when one is given.
inline Result RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& cwd = "") {
    static TempTestFolder folder("qovtoolt");
    std::string command = cwd.empty() ? "" : "cd '" + cwd + "' && ";
    command += "'" + program + "'";
    for (const std::string& argument : arguments) command += " '" + argument + "'";
    command += " 2>'" + folder / "stderr" + "'";
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadFile(folder / "stderr");
    return result;
}

}  // namespace qovtoolrun
