// The namespace-aware XML reader (expat on Linux, XmlLite on Windows): names by
// URI whatever the prefix, QNames in text resolved where they stand, text
// decoded, and the limits at their boundaries.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/XmlReader.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qdipc {
namespace {

// Writes every event as a line: "<uri|local", ">", or "text".
struct Recorder final : XmlHandler {
    std::vector<std::string> events;
    std::string text;
    std::vector<std::string> resolved;  // NamespaceOf("p") as each element closed

    void StartElement(std::string_view ns, std::string_view local) override {
        Flush();
        events.push_back("<" + std::string(ns) + "|" + std::string(local));
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

std::vector<std::string> Events(const std::string& xml, bool expectOk = true) {
    Recorder recorder;
    std::string error;
    EXPECT_EQ(ReadXml(xml, recorder, &error), expectOk) << error;
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
    ASSERT_TRUE(ReadXml("<r xmlns:p='urn:outer'><i xmlns:p='urn:inner'>p:T</i></r>", recorder));
    if (!UnderWine()) {
        EXPECT_EQ(recorder.resolved, (std::vector<std::string>{"urn:inner", "urn:outer"}));
    }
    Recorder inner;
    ASSERT_TRUE(ReadXml("<r><i xmlns:p='urn:inner'>p:T</i></r>", inner));
    EXPECT_EQ(inner.resolved, (std::vector<std::string>{"urn:inner", "(none)"}));
}

TEST(XmlReader, TextIsDecoded) {
    EXPECT_EQ(Events("<a>x&amp;y&lt;<![CDATA[<z>&amp;]]>&#x4e2d;</a>"),
              (std::vector<std::string>{"<|a", "x&y<<z>&amp;\xe4\xb8\xad", ">"}));
}

TEST(XmlReader, RefusesWhatNoDeviceSends) {
    // A document type declaration (the entity expansion attack needs one).
    Events("<!DOCTYPE a [<!ENTITY x 'xxxxxxxx'><!ENTITY y '&x;&x;&x;&x;'>]><a>&y;</a>", false);
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

TEST(XmlReader, SizeLimitIsExact) {
    const std::string head = "<a>";
    const std::string tail = "</a>";
    std::string xml = head + std::string(kMaxXmlBytes - head.size() - tail.size(), 'x') + tail;
    ASSERT_EQ(xml.size(), kMaxXmlBytes);
    EXPECT_EQ(Events(xml).size(), 3u);
    xml.insert(head.size(), "y");
    Events(xml, false);
}

}  // namespace
}  // namespace qdipc
