// CP932 (the program's text) to Qt's strings and back, at the edge of the Qt front end.
#pragma once

#include <QString>
#include <string>

#include "platform/CodePage.h"

namespace ui::qt {

inline QString FromCp932(const std::string& cp932) {
    return QString::fromStdString(platform::Cp932ToUtf8(cp932).value_or(std::string()));
}

inline std::string ToCp932(const QString& text) {
    return platform::Utf8ToCp932(text.toStdString()).value_or(std::string());
}

}  // namespace ui::qt
