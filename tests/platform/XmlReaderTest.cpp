// One table of documents and the nodes they must give. The Linux and the Windows reader both
// run it, so the two backends hand the program the same sequence.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/XmlReader.h"

using platform::XmlNode;
using platform::XmlReader;

struct XmlDocument {
    const char* name;
    std::string text;
    bool failed;
    std::vector<std::string> nodes;
};

namespace {

// Every node as "kind:value", E for element start, T text, / element end, W whitespace,
// C CDATA, ! comment, ? processing instruction.
std::vector<std::string> Nodes(const std::string& document, bool* failed) {
    XmlReader reader(document);
    std::vector<std::string> nodes;
    static const char kKinds[] = {'E', 'T', '/', 'W', 'C', '!', '?'};
    for (XmlNode node; reader.Read(node);) nodes.push_back(std::string(1, kKinds[int(node.type)]) + ":" + node.value);
    *failed = reader.Failed();
    return nodes;
}

const XmlDocument kDocuments[] = {
    {"CutReplyYieldsEveryNodeBeforeTheUnmatchedEndTag",
     "<out-param-section><result-cd>S00</result-cd>\n <result-msg>a &amp; b</result-msg>"
     "</out-param-section></download-start-if>",
     true,
     // The entity splits the character data; it still comes out as one text node.
     {"E:out-param-section", "E:result-cd", "T:S00", "/:result-cd", "W:\n ", "E:result-msg", "T:a & b", "/:result-msg",
      "/:out-param-section"}},
    {"EmptyElementTagHasNoEndAndNamesAreLocal",
     "<m:Map xmlns:m='urn:x'><MapData/><![CDATA[<raw>]]><!--c--><url>u</url></m:Map>",
     false,
     {"E:Map", "E:MapData", "C:<raw>", "!:c", "E:url", "T:u", "/:url", "/:Map"}},
    {"DoctypeStopsBeforeAnyEntityIsDeclared",
     "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>",
     true,
     {}},
    {"TextBeforeAnErrorIsDelivered", "<a>part", true, {"E:a", "T:part"}},
    {"EmptyDocumentFails", "", true, {}},
    {"DeclarationAndBlanksAroundTheRootGiveNoNodes",
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<root>\r\n <x/>\r\n</root>\n\n",
     false,
     // Line ends inside the root arrive as LF, as the XML rules normalise them.
     {"E:root", "W:\n ", "E:x", "W:\n", "/:root"}},
    {"TextAndWhitespaceAroundMarkupJoinIntoOneRun",
     "<a> x &lt;y&gt; &#x41;\n <b>  </b>tail</a>",
     false,
     {"E:a", "T: x <y> A\n ", "E:b", "W:  ", "/:b", "T:tail", "/:a"}},
    {"CommentsAndInstructionsEndTextRuns",
     "<a>one<!--note-->two<?render now?>three<![CDATA[]]>four</a>",
     false,
     // An empty CDATA section is no node, and it does not split the text around it either way.
     {"E:a", "T:one", "!:note", "T:two", "?:render", "T:three", "T:four", "/:a"}},
    {"JapaneseTextComesOutAsUtf8",
     "<product-name>\xE5\x9C\xB0\xE5\x9B\xB3 2026</product-name>",
     false,
     {"E:product-name", "T:\xE5\x9C\xB0\xE5\x9B\xB3 2026", "/:product-name"}},
    {"MismatchedEndTagStopsAfterWhatCameBefore",
     "<a><b>1</b><c>2</b></c></a>",
     true,
     {"E:a", "E:b", "T:1", "/:b", "E:c", "T:2"}},
    {"UndeclaredPrefixIsAnError", "<p:a>x</p:a>", true, {}},
    {"SecondRootIsAnError", "<a/><b/>", true, {"E:a"}},
};

class XmlReaderDocuments : public testing::TestWithParam<XmlDocument> {};

}  // namespace

TEST_P(XmlReaderDocuments, GiveTheirNodesInOrder) {
    const XmlDocument& document = GetParam();
    bool failed = !document.failed;
    EXPECT_EQ(Nodes(document.text, &failed), document.nodes);
    EXPECT_EQ(failed, document.failed);
}

INSTANTIATE_TEST_SUITE_P(XmlReaderTest, XmlReaderDocuments, testing::ValuesIn(kDocuments),
                         [](const testing::TestParamInfo<XmlDocument>& document) {
                             return std::string(document.param.name);
                         });
