// The XML documents of the three web-service calls: reading requests, writing replies.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mapservice {

struct CallDocument {
    std::string call;  // MDL, DLS, TSC: the last part of the URL path
    std::string root;
    std::string dtd;
    std::string prefix;
    std::vector<std::string> inParams;
    std::vector<std::string> outParams;
};

const CallDocument* FindCall(std::string_view call);

// Whether `xml` is a document with this call's root element.
bool IsRequestFor(const CallDocument& document, std::string_view xml);

// The text between <name> and </name>, as it stands (the client does not escape values).
std::optional<std::string> ElementText(std::string_view xml, std::string_view name);

using Values = std::map<std::string, std::string>;

// The reply document: the request's in-params echoed, then every out-param with its value
// from `out` (empty when absent), XML-escaped, without whitespace between tags.
std::string MakeReply(const CallDocument& document, const Values& in, const Values& out);

// A reply broken off inside its out-param-section, in the middle of the first tag.
std::string Malformed(const std::string& reply);

std::string XmlEscape(std::string_view text);

}  // namespace mapservice
