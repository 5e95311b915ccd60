// The three calls' documents: a request recognised by its root, an element's text read, a reply
// written with its result fields, and the cut-off reply of the malformed fault.
#include "ServiceXml.h"

namespace mapservice {
namespace {

const std::vector<std::string> kResultFields = {"result-status", "result-cd", "result-detail-cd", "result-msg"};

std::vector<std::string> WithResultFields(std::vector<std::string> extra) {
    std::vector<std::string> fields = kResultFields;
    fields.insert(fields.end(), extra.begin(), extra.end());
    return fields;
}

const std::vector<CallDocument> kCalls = {
    {"MDL",
     "download-start-if",
     "dsif.dtd",
     "dsif",
     {"model-group-cd"},
     WithResultFields(
         {"unified-map-ver-gen", "unified-map-ver-major", "unified-map-ver-minor", "product-name", "conf-file-url"})},
    {"DLS", "download-completion-if", "dcif.dtd", "dcif", {"model-group-cd"}, WithResultFields({})},
    {"TSC",
     "transfer-completion-if",
     "tcif.dtd",
     "tcif",
     {"model-group-cd", "maptrs_failure_cd"},
     WithResultFields({})},
};

// Our own namespace base; the client does not read it.
constexpr std::string_view kNamespaceBase = "http://mapservice.invalid/map-dl/";

void AppendElement(std::string& xml, const std::string& name, std::string_view value) {
    xml += "<" + name + ">" + XmlEscape(value) + "</" + name + ">";
}

}  // namespace

const CallDocument* FindCall(std::string_view call) {
    for (const auto& document : kCalls)
        if (document.call == call) return &document;
    return nullptr;
}

bool IsRequestFor(const CallDocument& document, std::string_view xml) {
    std::string start = "<" + document.root;
    std::size_t at = xml.find(start);
    if (at == std::string_view::npos || at + start.size() >= xml.size()) return false;
    char next = xml[at + start.size()];
    return next == ' ' || next == '>';
}

std::optional<std::string> ElementText(std::string_view xml, std::string_view name) {
    std::string start = "<" + std::string(name) + ">";
    std::string end = "</" + std::string(name) + ">";
    std::size_t begin = xml.find(start);
    if (begin == std::string_view::npos) return std::nullopt;
    begin += start.size();
    std::size_t stop = xml.find(end, begin);
    if (stop == std::string_view::npos) return std::nullopt;
    return std::string(xml.substr(begin, stop - begin));
}

std::string MakeReply(const CallDocument& document, const Values& in, const Values& out) {
    auto valueOf = [](const Values& values, const std::string& name) {
        auto it = values.find(name);
        return it == values.end() ? std::string() : it->second;
    };
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    xml += "<!DOCTYPE " + document.root + " SYSTEM \"" + document.dtd + "\">";
    xml += "<" + document.root + " xmlns:" + document.prefix + "='" + std::string(kNamespaceBase) + document.prefix +
           "/'>";
    xml += "<in-param-section>";
    for (const auto& name : document.inParams) AppendElement(xml, name, valueOf(in, name));
    xml += "</in-param-section><out-param-section>";
    for (const auto& name : document.outParams) AppendElement(xml, name, valueOf(out, name));
    xml += "</out-param-section></" + document.root + ">";
    return xml;
}

std::string Malformed(const std::string& reply) {
    constexpr std::string_view kSection = "<out-param-section>";
    // "<res": the start of result-status, so no out-param is complete.
    return reply.substr(0, reply.find(kSection) + kSection.size() + 4);
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out += c;
        }
    }
    return out;
}

}  // namespace mapservice
