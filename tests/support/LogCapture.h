// The program's log for the length of a test: a debugger.ini at trace level in the test's own
// folder, made the program folder (where the logger reads it). Lines are CP932, as written.
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "base/Logger.h"
#include "platform/Files.h"
#include "support/TestWorld.h"

class LogCapture {
public:
    struct Line {
        std::string text;
        std::string source;
    };

    explicit LogCapture(const std::string& folder) : folder_(folder) {
        platform::SetModuleFileNameForProcess(folder_ + "/veltrane");
        TestWorld::WriteFile(folder_ + "/debugger.ini",
                             "[debugger]\r\nDebugMode=Yes\r\nLogLevel=2\r\nLogFile=capture.log\r\n");
        LogInit();
    }
    ~LogCapture() {
        TestWorld::WriteFile(folder_ + "/debugger.ini", "[debugger]\r\nDebugMode=No\r\n");
        LogInit();
        platform::SetModuleFileNameForProcess("");
    }

    // Every line: "<time>:<text>,<source>,<line number>", the text after the time's 4 colons.
    std::vector<Line> Lines() const {
        std::vector<Line> lines;
        std::istringstream in(TestWorld::ReadFile(folder_ + "/capture.log"));
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            size_t numberComma = line.rfind(',');
            size_t sourceComma = numberComma == std::string::npos ? numberComma : line.rfind(',', numberComma - 1);
            size_t textStart = 0;
            for (int colon = 0; colon < 4 && textStart != std::string::npos; ++colon)
                textStart = line.find(':', textStart == 0 ? 0 : textStart + 1);
            if (sourceComma == std::string::npos || textStart == std::string::npos) continue;
            lines.push_back({line.substr(textStart + 1, sourceComma - textStart - 1),
                             line.substr(sourceComma + 1, numberComma - sourceComma - 1)});
        }
        return lines;
    }
    // Lines whose text starts with `prefix`.
    size_t Count(const std::string& prefix) const {
        size_t count = 0;
        for (const Line& line : Lines()) count += line.text.starts_with(prefix);
        return count;
    }

private:
    std::string folder_;
};
