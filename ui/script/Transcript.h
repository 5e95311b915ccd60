// The automation's transcript: UTF-8 lines, each stamped with the platform clock's seconds
// since the start, kept in memory and appended to the file as they happen, so whatever ends
// the process afterwards finds every line written.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace ui {

class Transcript {
public:
    // path is native (UTF-8); empty keeps the lines in memory only. The file starts empty.
    explicit Transcript(std::string path);

    void Note(const std::string& utf8);
    std::vector<std::string> Lines();

private:
    std::string path_;
    uint64_t start_;
    std::mutex lock_;
    std::vector<std::string> lines_;
};

// Text as the transcript shows it: UTF-8, line breaks as "\n".
std::string TranscriptText(const std::string& cp932);

}  // namespace ui
