// The pull reader on XmlLite, looked up at run time: its text and whitespace nodes joined into
// the ones the program expects, and the leniencies of Wine's reader turned into errors.
#include "platform/XmlReader.h"

#include <memory>
#include <string_view>

#include "platform/win32/Wide.h"
#include "platform/win32/Windows.h"
#include <objidl.h>
#include <shlwapi.h>
#include <xmllite.h>

namespace platform {
namespace {

using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

// mingw ships no import library for XmlLite, so its factory is looked up once at run time,
// from System32 only: a planted xmllite.dll in the program folder is never loaded.
CreateXmlReaderFunction ReaderFactory() {
    static const CreateXmlReaderFunction factory = []() -> CreateXmlReaderFunction {
        HMODULE module = LoadLibraryExW(L"xmllite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) return nullptr;
        return reinterpret_cast<CreateXmlReaderFunction>(
            reinterpret_cast<void*>(GetProcAddress(module, "CreateXmlReader")));
    }();
    return factory;
}

struct Releaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <class T>
using ComPtr = std::unique_ptr<T, Releaser>;

std::string Value(IXmlReader& reader) {
    const WCHAR* value = nullptr;
    UINT length = 0;
    if (FAILED(reader.GetValue(&value, &length))) return {};
    return win32::NarrowNative(std::wstring_view(value, length));
}

std::string LocalName(IXmlReader& reader) {
    const WCHAR* name = nullptr;
    UINT length = 0;
    if (FAILED(reader.GetLocalName(&name, &length))) return {};
    return win32::NarrowNative(std::wstring_view(name, length));
}

// XmlLite may hand out one run of character data as several text and whitespace nodes; the
// program sees the run between two other nodes as one node, whitespace when it is all blank.
struct TextRun {
    std::vector<XmlNode>& nodes;
    std::string text;

    void Flush() {
        if (text.empty()) return;
        XmlNodeType type =
            text.find_first_not_of(" \t\r\n") == std::string::npos ? XmlNodeType::Whitespace : XmlNodeType::Text;
        nodes.push_back({type, std::move(text)});
        text.clear();
    }
};

enum class Outcome { Complete, Failed, CutInText };

// Wine's reader lets a prefix without a namespace declaration pass, and reports no prefix.
bool UndeclaredPrefix(IXmlReader& reader) {
    const WCHAR* name = nullptr;
    UINT length = 0;
    const WCHAR* uri = nullptr;
    UINT uriLength = 0;
    if (FAILED(reader.GetQualifiedName(&name, &length)) || FAILED(reader.GetNamespaceUri(&uri, &uriLength)))
        return true;
    return uriLength == 0 && std::wstring_view(name, length).find(L':') != std::wstring_view::npos;
}

Outcome Parse(CreateXmlReaderFunction factory, std::string_view document, std::vector<XmlNode>& nodes) {
    IXmlReader* created = nullptr;
    if (FAILED(factory(__uuidof(IXmlReader), reinterpret_cast<void**>(&created), nullptr))) return Outcome::Failed;
    ComPtr<IXmlReader> reader(created);
    // A DOCTYPE is an error, so no entity is ever declared and nothing external is loaded.
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    reader->SetProperty(XmlReaderProperty_XmlResolver, 0);
    ComPtr<IStream> stream(
        SHCreateMemStream(reinterpret_cast<const BYTE*>(document.data()), static_cast<UINT>(document.size())));
    if (!stream || FAILED(reader->SetInput(stream.get()))) return Outcome::Failed;

    TextRun run{nodes, {}};
    int open = 0;  // elements started and not yet ended
    ::XmlNodeType type;
    HRESULT result;
    while ((result = reader->Read(&type)) == S_OK) {
        switch (type) {
        case XmlNodeType_Text: {
            std::string value = Value(*reader);
            // Wine's reader repeats empty text nodes once the input ends inside character
            // data, and never hands out that text.
            if (value.empty()) return Outcome::CutInText;
            run.text += value;
            break;
        }
        case XmlNodeType_Whitespace:
            // Blanks around the root element are not character data.
            if (open > 0) run.text += Value(*reader);
            break;
        case XmlNodeType_Element:
            run.Flush();
            if (UndeclaredPrefix(*reader)) return Outcome::Failed;
            nodes.push_back({XmlNodeType::Element, LocalName(*reader)});
            if (!reader->IsEmptyElement()) ++open;
            break;
        case XmlNodeType_EndElement:
            run.Flush();
            nodes.push_back({XmlNodeType::EndElement, LocalName(*reader)});
            --open;
            break;
        case XmlNodeType_CDATA: {
            run.Flush();
            std::string value = Value(*reader);
            if (!value.empty()) nodes.push_back({XmlNodeType::CData, std::move(value)});
            break;
        }
        case XmlNodeType_Comment:
            run.Flush();
            nodes.push_back({XmlNodeType::Comment, Value(*reader)});
            break;
        case XmlNodeType_ProcessingInstruction:
            run.Flush();
            nodes.push_back({XmlNodeType::ProcessingInstruction, LocalName(*reader)});
            break;
        default:  // the XML declaration
            break;
        }
    }
    // Text read before an error is a node of its own, as it was handed out before the error.
    run.Flush();
    return result == S_FALSE ? Outcome::Complete : Outcome::Failed;
}

}  // namespace

XmlReader::XmlReader(std::string_view document) {
    failed_ = true;
    CreateXmlReaderFunction factory = ReaderFactory();
    if (factory == nullptr) return;
    Outcome outcome = Parse(factory, document, nodes_);
    if (outcome == Outcome::CutInText) {
        // A markup start after the cut ends the text, so the reader hands it out and then
        // stops at the cut as before.
        nodes_.clear();
        Parse(factory, std::string(document) + "<", nodes_);
    }
    failed_ = outcome != Outcome::Complete;
}

}  // namespace platform
