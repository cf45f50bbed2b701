#pragma once
// A small namespace-aware XML reader for the SOAP datagrams devices send:
// elements come out by namespace URI and local name, never by prefix, with
// their text. XmlReader_expat.cpp reads with expat, XmlReader_win.cpp with the
// system's XmlLite; both refuse a document type declaration, a document larger
// than kMaxXmlBytes and elements nested deeper than kMaxXmlDepth.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qdipc {

// A UDP datagram carries at most 64 KiB.
inline constexpr std::size_t kMaxXmlBytes = 65536;
// A discovery message nests some six elements deep; 32 leaves room for any
// extension a device adds and refuses a document built to exhaust a stack.
inline constexpr int kMaxXmlDepth = 32;

// The prefixes declared where the reader stands (xmlns:p="uri").
class XmlScope {
public:
    // The namespace URI of a prefix ("" for the default namespace); nothing
    // when the prefix is not declared.
    virtual std::optional<std::string> NamespaceOf(std::string_view prefix) const = 0;

protected:
    ~XmlScope() = default;
};

class XmlHandler {
public:
    // An element opens: its namespace URI ("" when it has none) and local name.
    virtual void StartElement(std::string_view namespaceUri, std::string_view localName) = 0;
    // The innermost open element closes; scope is still the one inside it, so
    // that a QName in its text ("dn:NetworkVideoTransmitter") can be resolved.
    virtual void EndElement(const XmlScope& scope) = 0;
    // Character data inside the innermost open element, decoded (entities and
    // CDATA resolved) as UTF-8; one element's text may come in several pieces.
    virtual void Text(std::string_view text) = 0;

protected:
    ~XmlHandler() = default;
};

// Reads document from start to end and tells handler what it finds. True when
// the whole document is well-formed and within the limits; on false the
// handler may have been told part of it and error says why.
bool ReadXml(std::string_view document, XmlHandler& handler, std::string* error = nullptr);

}  // namespace qdipc
