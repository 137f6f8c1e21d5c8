// Reading what fake-convert logged (FAKE_CONVERT_LOG), for the tests that start it.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct FakeCall {
    long pid = 0;
    std::string fds; // "0=/dev/null 1=... 2=..."
    std::vector<std::string> argv;
};

inline std::string FakeConvertPath() { return std::string(MOVENNA_BIN_DIR) + "/fake-convert"; }

// Every logged run in order; a record cut short ends the list.
inline std::vector<FakeCall> ReadFakeLog(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    std::vector<FakeCall> calls;
    size_t pos = 0;
    auto line = [&](std::string& out) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) return false;
        out = text.substr(pos, end - pos);
        pos = end + 1;
        return true;
    };
    std::string l;
    while (line(l)) {
        FakeCall call;
        if (l.rfind("pid ", 0) != 0) break;
        call.pid = std::atol(l.c_str() + 4);
        if (!line(l) || l.rfind("fds ", 0) != 0) break;
        call.fds = l.substr(4);
        if (!line(l) || l.rfind("argc ", 0) != 0) break;
        size_t argc = std::strtoul(l.c_str() + 5, nullptr, 10);
        bool ok = true;
        for (size_t i = 0; i < argc && ok; ++i) {
            ok = line(l);
            size_t len = ok ? std::strtoul(l.c_str(), nullptr, 10) : 0;
            ok = ok && pos + len + 1 <= text.size();
            if (ok) {
                call.argv.push_back(text.substr(pos, len));
                pos += len + 1;
            }
        }
        if (!ok || !line(l) || l != "end") break;
        calls.push_back(std::move(call));
    }
    return calls;
}
