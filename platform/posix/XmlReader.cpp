// The pull reader on expat: the whole document parsed at once into the list of nodes it hands
// out, with character data joined and the first error ending the list.
#include "platform/XmlReader.h"

#include <expat.h>

#include <memory>

namespace platform {
namespace {

// Names come back as "namespace URI \x01 local name" when the element has a namespace.
constexpr char kNamespaceSeparator = '\x01';

struct Collector {
    XML_Parser parser;
    std::vector<XmlNode>& nodes;
    std::string text;
    bool inCData = false;

    // Character data arrives in pieces; the pieces between two other nodes form one node.
    void FlushText() {
        if (text.empty()) return;
        XmlNodeType type = inCData                                                  ? XmlNodeType::CData
                           : text.find_first_not_of(" \t\r\n") == std::string::npos ? XmlNodeType::Whitespace
                                                                                    : XmlNodeType::Text;
        nodes.push_back({type, std::move(text)});
        text.clear();
    }
};

std::string LocalName(const XML_Char* name) {
    std::string_view full(name);
    size_t separator = full.rfind(kNamespaceSeparator);
    return std::string(separator == std::string_view::npos ? full : full.substr(separator + 1));
}

Collector& Of(void* user) { return *static_cast<Collector*>(user); }

void OnStart(void* user, const XML_Char* name, const XML_Char**) {
    Collector& c = Of(user);
    c.FlushText();
    c.nodes.push_back({XmlNodeType::Element, LocalName(name)});
}

void OnEnd(void* user, const XML_Char* name) {
    Collector& c = Of(user);
    c.FlushText();
    // An empty-element tag ends where it starts: expat reports no bytes for its end.
    if (XML_GetCurrentByteCount(c.parser) == 0) return;
    c.nodes.push_back({XmlNodeType::EndElement, LocalName(name)});
}

void OnCharacters(void* user, const XML_Char* data, int length) { Of(user).text.append(data, length); }

void OnCDataStart(void* user) {
    Collector& c = Of(user);
    c.FlushText();
    c.inCData = true;
}

void OnCDataEnd(void* user) {
    Collector& c = Of(user);
    c.FlushText();
    c.inCData = false;
}

void OnComment(void* user, const XML_Char* data) {
    Collector& c = Of(user);
    c.FlushText();
    c.nodes.push_back({XmlNodeType::Comment, data});
}

void OnProcessingInstruction(void* user, const XML_Char* target, const XML_Char*) {
    Collector& c = Of(user);
    c.FlushText();
    c.nodes.push_back({XmlNodeType::ProcessingInstruction, target});
}

void OnDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    XML_StopParser(Of(user).parser, XML_FALSE);
}

}  // namespace

XmlReader::XmlReader(std::string_view document) {
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
        XML_ParserCreateNS("UTF-8", kNamespaceSeparator), XML_ParserFree);
    if (!parser) {
        failed_ = true;
        return;
    }
    Collector collector{parser.get(), nodes_, {}, false};
    XML_SetUserData(parser.get(), &collector);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetElementHandler(parser.get(), OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser.get(), OnCharacters);
    XML_SetCdataSectionHandler(parser.get(), OnCDataStart, OnCDataEnd);
    XML_SetCommentHandler(parser.get(), OnComment);
    XML_SetProcessingInstructionHandler(parser.get(), OnProcessingInstruction);
    XML_SetStartDoctypeDeclHandler(parser.get(), OnDoctype);
    XML_Status status = XML_Parse(parser.get(), document.data(), static_cast<int>(document.size()), XML_TRUE);
    // Text read before an error is a node of its own, as a pull reader would have shown it.
    collector.FlushText();
    failed_ = status != XML_STATUS_OK;
}

}  // namespace platform
