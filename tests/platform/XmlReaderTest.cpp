// The namespace-aware XML reader (expat on Linux, XmlLite on Windows): names and
// attributes by URI whatever the prefix, QNames in text resolved where they
// stand, text decoded, and the limits at their boundaries, the tree's too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/SoapXmlTree.h"
#include "platform/XmlReader.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qdipc {
namespace {

// Writes every event as a line: "<uri|local uri|name=value...", ">", or "text".
struct Recorder final : XmlHandler {
    std::vector<std::string> events;
    std::string text;
    std::vector<std::string> resolved;  // NamespaceOf("p") as each element closed

    bool StartElement(std::string_view ns, std::string_view local,
                      const std::vector<XmlAttribute>& attributes) override {
        Flush();
        std::string event = "<" + std::string(ns) + "|" + std::string(local);
        for (const XmlAttribute& attribute : attributes) {
            event += " " + attribute.ns + "|" + attribute.local + "=" + attribute.value;
        }
        events.push_back(std::move(event));
        return true;
    }
    void EndElement(const XmlScope& scope) override {
        Flush();
        events.push_back(">");
        resolved.push_back(scope.NamespaceOf("p").value_or("(none)"));
    }
    void Text(std::string_view piece) override { text += piece; }
    void Flush() {
        if (!text.empty()) {
            events.push_back(text);
            text.clear();
        }
    }
};

std::vector<std::string> Events(const std::string& xml, bool expectOk = true,
                                std::size_t maxBytes = kMaxXmlBytes) {
    Recorder recorder;
    std::string error;
    EXPECT_EQ(ReadXml(xml, maxBytes, recorder, &error), expectOk) << xml.substr(0, 80) << error;
    return recorder.events;
}

TEST(XmlReader, NamesComeByNamespaceWhateverThePrefix) {
    const std::vector<std::string> expected = {"<urn:a|Envelope", "<urn:b|Body", "x", ">", ">"};
    EXPECT_EQ(Events("<s:Envelope xmlns:s='urn:a'><t:Body xmlns:t='urn:b'>x</t:Body>"
                     "</s:Envelope>"),
              expected);
    EXPECT_EQ(Events("<SOAP-ENV:Envelope xmlns:SOAP-ENV='urn:a' xmlns:wsdd='urn:b'>"
                     "<wsdd:Body>x</wsdd:Body></SOAP-ENV:Envelope>"),
              expected);
    EXPECT_EQ(Events("<Envelope xmlns='urn:a'><Body xmlns='urn:b'>x</Body></Envelope>"), expected);
    // The same prefix bound to another URI is another name.
    EXPECT_EQ(Events("<s:Envelope xmlns:s='urn:b'/>"),
              (std::vector<std::string>{"<urn:b|Envelope", ">"}));
    EXPECT_EQ(Events("<plain/>"), (std::vector<std::string>{"<|plain", ">"}));
}

TEST(XmlReader, AttributesComeByNamespaceWithoutTheDeclarations) {
    // An attribute without a prefix has no namespace, whatever the default;
    // values are decoded and their white space normalised.
    EXPECT_EQ(Events("<a xmlns='urn:d' xmlns:p='urn:p' p:x='1' y='a&amp;b&#x4e2d;	c'"
                     " xml:lang=\"en\"><q:b xmlns:q='urn:p' q:x=''/></a>"),
              (std::vector<std::string>{"<urn:d|a urn:p|x=1 |y=a&b\xe4\xb8\xad c "
                                        "http://www.w3.org/XML/1998/namespace|lang=en",
                                        "<urn:p|b urn:p|x=", ">", ">"}));
    Events("<a q:x='1'/>", false);  // an undeclared prefix on an attribute
    Events("<a x='1' x='2'/>", false);
    Events("<a xmlns:p='urn:p' xmlns:q='urn:p' p:x='1' q:x='2'/>", false);
    Events("<a xmlns:p='urn:p' xmlns:p='urn:q'/>", false);
}

#ifdef _WIN32
// Wine's XmlLite gives a redeclared prefix's attribute the outer value.
bool UnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
#else
bool UnderWine() {
    return false;
}
#endif

TEST(XmlReader, PrefixesInTextResolveWhereTheElementCloses) {
    Recorder recorder;
    ASSERT_TRUE(ReadXml("<r xmlns:p='urn:outer'><i xmlns:p='urn:inner'>p:T</i></r>", kMaxXmlBytes,
                        recorder));
    if (!UnderWine()) {
        EXPECT_EQ(recorder.resolved, (std::vector<std::string>{"urn:inner", "urn:outer"}));
    }
    Recorder inner;
    ASSERT_TRUE(ReadXml("<r><i xmlns:p='urn:inner'>p:T</i></r>", kMaxXmlBytes, inner));
    EXPECT_EQ(inner.resolved, (std::vector<std::string>{"urn:inner", "(none)"}));
}

TEST(XmlReader, EncodingDeclaredIsHonoured) {
    // Wine's XmlLite knows only UTF-8 and UTF-16.
    if (!UnderWine()) {
        EXPECT_EQ(Events("<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xe9</a>"),
                  (std::vector<std::string>{"<|a", "caf\xc3\xa9", ">"}));
    }
    // UTF-16 (with its byte order mark), a reference in it decoded.
    const char utf16[] = "\xff\xfe<\0a\0>\0&\0a\0m\0p\0;\0\x2d\x4e<\0/\0a\0>\0";
    EXPECT_EQ(Events(std::string(utf16, sizeof utf16 - 1)),
              (std::vector<std::string>{"<|a", "&\xe4\xb8\xad", ">"}));
    // One expat does not know (a device's "GB2312" over ASCII) is read as
    // UTF-8; XmlLite knows what Windows knows and refuses the rest.
    const std::string unknown = "<?xml version='1.0' encoding='x-no-such'?><a>caf\xc3\xa9</a>";
#ifdef _WIN32
    Events(unknown, false);
#else
    EXPECT_EQ(Events(unknown), (std::vector<std::string>{"<|a", "caf\xc3\xa9", ">"}));
#endif
}

TEST(XmlReader, TextIsDecoded) {
    EXPECT_EQ(Events("<a>x&amp;y&lt;<![CDATA[<z>&amp;]]>&#x4e2d;</a>"),
              (std::vector<std::string>{"<|a", "x&y<<z>&amp;\xe4\xb8\xad", ">"}));
}

TEST(XmlReader, RefusesWhatNoDeviceSends) {
    // A document type declaration (the entity expansion attack needs one).
    Events("<!DOCTYPE a [<!ENTITY x 'xxxxxxxx'><!ENTITY y '&x;&x;&x;&x;'>]><a>&y;</a>", false);
    Events("<?xml version='1.0'?><!-- c --><?p i?><!DOCTYPE a><a/>", false);
    Events("<a>&x;</a>", false);  // no entity beyond XML's own
    Events("<a b='&x;'/>", false);
    // The same letters in a comment or CDATA are text.
    EXPECT_EQ(Events("<!-- <!DOCTYPE &x; --><a><![CDATA[<!DOCTYPE a>&x;]]></a>"),
              (std::vector<std::string>{"<|a", "<!DOCTYPE a>&x;", ">"}));
    Events("<a><b></a></b>", false);
    Events("<p:a/>", false);  // an undeclared prefix
    Events("", false);
    Events("<a/><b/>", false);
}

std::string Nested(int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) {
        xml += "<e>";
    }
    for (int i = 0; i < depth; ++i) {
        xml += "</e>";
    }
    return xml;
}

TEST(XmlReader, DepthLimitIsExact) {
    EXPECT_EQ(Events(Nested(kMaxXmlDepth)).size(), static_cast<std::size_t>(2 * kMaxXmlDepth));
    Events(Nested(kMaxXmlDepth + 1), false);
}

TEST(XmlReader, SizeLimitIsTheCallersAndExact) {
    const std::string head = "<a>";
    const std::string tail = "</a>";
    for (const std::size_t bound : {kMaxXmlBytes, kMaxXmlDocument}) {
        std::string xml = head + std::string(bound - head.size() - tail.size(), 'x') + tail;
        ASSERT_EQ(xml.size(), bound);
        EXPECT_EQ(Events(xml, true, bound).size(), 3u);
        EXPECT_TRUE(ParseSoapXml(xml));
        xml.insert(head.size(), "y");
        Events(xml, false, bound);
        std::string error;
        EXPECT_EQ(ParseSoapXml(xml, &error).has_value(), bound < kMaxXmlDocument);
    }
    std::string error;
    EXPECT_FALSE(ParseSoapXml(std::string(kMaxXmlDocument + 1, ' '), &error));
    EXPECT_EQ(error, "the document is larger than 1048576 bytes");
}

// The tree keeps the attributes and counts the elements: 20000 are read,
// one more is refused (and said so), nested or not.
TEST(SoapXmlTree, AttributesAndElementCountBound) {
    const auto root = ParseSoapXml("<r xmlns:p='urn:p' p:a='1' b='2'>t<c/>u</r>");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->text, "tu");
    ASSERT_EQ(root->attributes.size(), 2u);
    EXPECT_EQ(root->attributes[0].ns, "urn:p");
    EXPECT_EQ(root->Attribute("a"), "1");
    EXPECT_EQ(root->attributes[1].ns, "");
    EXPECT_EQ(root->Attribute("b"), "2");
    ASSERT_EQ(root->children.size(), 1u);
    EXPECT_EQ(root->children[0].local, "c");
    std::string flat = "<r>";
    for (std::size_t i = 1; i < kMaxXmlElements; ++i) {
        flat += "<e/>";
    }
    const auto full = ParseSoapXml(flat + "</r>");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->children.size(), kMaxXmlElements - 1);
    std::string error;
    EXPECT_FALSE(ParseSoapXml(flat + "<e/></r>", &error));
    EXPECT_EQ(error, "the document has more than 20000 elements");
    EXPECT_FALSE(ParseSoapXml(flat + "<e><e/></e></r>", &error));
    EXPECT_FALSE(ParseSoapXml("", &error));
}

}  // namespace
}  // namespace qdipc
