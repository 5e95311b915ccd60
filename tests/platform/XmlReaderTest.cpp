#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/XmlReader.h"

using platform::XmlNode;
using platform::XmlNodeType;
using platform::XmlReader;

namespace {

// Every node as "kind:value", E for element start, T text, / element end, W whitespace,
// C CDATA, ! comment.
std::vector<std::string> Nodes(const std::string& document, bool* failed = nullptr) {
    XmlReader reader(document);
    std::vector<std::string> nodes;
    static const char kKinds[] = {'E', 'T', '/', 'W', 'C', '!', '?'};
    for (XmlNode node; reader.Read(node);) nodes.push_back(std::string(1, kKinds[int(node.type)]) + ":" + node.value);
    if (failed != nullptr) *failed = reader.Failed();
    return nodes;
}

using Expected = std::vector<std::string>;

}  // namespace

TEST(XmlReaderTest, ACutReplyYieldsEveryNodeBeforeTheUnmatchedEndTag) {
    bool failed = false;
    auto nodes = Nodes("<out-param-section><result-cd>S00</result-cd>\n <result-msg>a &amp; b</result-msg>"
                       "</out-param-section></download-start-if>",
                       &failed);
    EXPECT_TRUE(failed);
    // The entity splits the character data; it still comes out as one text node.
    EXPECT_EQ(nodes, (Expected{"E:out-param-section", "E:result-cd", "T:S00", "/:result-cd", "W:\n ", "E:result-msg",
                               "T:a & b", "/:result-msg", "/:out-param-section"}));
}

TEST(XmlReaderTest, AnEmptyElementTagHasNoEndAndNamesAreLocal) {
    bool failed = true;
    auto nodes = Nodes("<m:Map xmlns:m='urn:x'><MapData/><![CDATA[<raw>]]><!--c--><url>u</url></m:Map>", &failed);
    EXPECT_FALSE(failed);
    EXPECT_EQ(nodes, (Expected{"E:Map", "E:MapData", "C:<raw>", "!:c", "E:url", "T:u", "/:url", "/:Map"}));
}

TEST(XmlReaderTest, ADoctypeStopsBeforeAnyEntityIsDeclared) {
    bool failed = false;
    auto nodes = Nodes("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a>&e;</a>",
                       &failed);
    EXPECT_TRUE(failed);
    EXPECT_TRUE(nodes.empty());
}

TEST(XmlReaderTest, TextBeforeAnErrorIsDelivered) {
    bool failed = false;
    EXPECT_EQ(Nodes("<a>part", &failed), (Expected{"E:a", "T:part"}));
    EXPECT_TRUE(failed);
    EXPECT_TRUE(Nodes("", &failed).empty());
    EXPECT_TRUE(failed);
}
