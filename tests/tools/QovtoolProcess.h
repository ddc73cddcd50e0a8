#pragma once
// Running the built qovtool from a test: its path, the test data, and one run with its exit code
// and what it wrote.

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

namespace qovtoolprocess {

inline std::string Data(const std::string& name) {
    return std::string(QOV_TESTDATA_DIR) + "/" + name;
}

inline std::string Tool() {
    return std::string(QOV_PROGRAMS_DIR) + "/../qovtool";
}

inline bool Exists(const std::string& path) {
    struct stat s;
    return stat(path.c_str(), &s) == 0;
}

// Runs qovtool with the arguments (each quoted); its exit code, and stdout and stderr in
// `output` (stderr alone when `errorsOnly`).
inline int RunTool(const std::vector<std::string>& arguments, std::string& output,
                   bool errorsOnly = false) {
    std::string command = "'" + Tool() + "'";
    for (const std::string& a : arguments) command += " '" + a + "'";
    command += errorsOnly ? " 2>&1 >/dev/null" : " 2>&1";
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[1024];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace qovtoolprocess
