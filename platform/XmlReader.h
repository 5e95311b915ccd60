// A pull reader over an XML text in memory (UTF-8). It hands out the nodes in document order
// up to the first error; a cut document therefore yields everything before the cut. Split
// character data comes out as one text node, whitespace-only text as whitespace. An
// empty-element tag yields an element start and no element end. A DOCTYPE is an error, so
// no entity is ever declared or loaded.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class XmlNodeType { Element, Text, EndElement, Whitespace, CData, Comment, ProcessingInstruction };

struct XmlNode {
    XmlNodeType type;
    std::string value;  // local name for Element and EndElement, the text otherwise (UTF-8)
};

class XmlReader {
public:
    explicit XmlReader(std::string_view document);

    // The next node; false at the end of the document or at the first error.
    bool Read(XmlNode& node) {
        if (next_ == nodes_.size()) return false;
        node = nodes_[next_++];
        return true;
    }
    // True when reading stopped at an error rather than at the end of a well-formed document.
    bool Failed() const { return failed_; }

private:
    std::vector<XmlNode> nodes_;
    size_t next_ = 0;
    bool failed_ = false;
};

}  // namespace platform
