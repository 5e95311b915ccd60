// The frame every operation of the program shares: its start and end lines at LOG_TRACE and a
// catch-all that turns any exception into the operation's failure value, after showing the
// system error (kind 800, "E99") and logging "例外".
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "state/Results.h"
#include "state/VeltraneApp.h"
#include "base/Logger.h"

enum class OnException { ShowMessage, LogOnly };
// Own: the body logs its end line itself (one with a note, such as "GetDrive終了[%s]", or none
// where the operation ends without one), so the frame adds no plain "終了" line.
enum class EndLine { Frame, Own };

// The options come before the body so that the body, the long part, closes the call.
template <class Result, class Body>
Result Operation(const char* source, int line, const char* name, const std::string& startNote, Result failure,
                 OnException onException, EndLine endLine, Body&& body) {
    try {
        LogWrite(source, LOG_TRACE, line, "%s開始%s", name, startNote.c_str());
        Result result = body();
        if (endLine == EndLine::Frame) LogWrite(source, LOG_TRACE, line, "%s終了", name);
        return result;
    } catch (...) {
        if (onException == OnException::ShowMessage) theApp.Messages.ShowErrorMessage(kSystemError, "E99", "");
        LogWrite(source, LOG_EXCEPTION, line, "例外");
        return failure;
    }
}

template <class Result, class Body>
Result Operation(const char* source, int line, const char* name, const std::string& startNote, Result failure,
                 OnException onException, Body&& body) {
    return Operation(source, line, name, startNote, failure, onException, EndLine::Frame, std::forward<Body>(body));
}

template <class Result, class Body>
Result Operation(const char* source, int line, const char* name, const std::string& startNote, Result failure,
                 Body&& body) {
    return Operation(source, line, name, startNote, failure, OnException::ShowMessage, EndLine::Frame,
                     std::forward<Body>(body));
}

// Operation(...) with the calling file's source name and line.
#define OPERATION(name, note, failure, ...) Operation(kLogSource, __LINE__, name, note, failure, __VA_ARGS__)
