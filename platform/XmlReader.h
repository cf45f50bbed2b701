#pragma once
// The one namespace-aware XML reader, for the SOAP datagrams and the HTTP
// answers of devices: elements come out by namespace URI and local name, never
// by prefix, with their attributes and text. XmlReader_expat.cpp reads with
// expat, XmlReader_win.cpp with the system's XmlLite; both refuse a document
// type declaration (so no entity beyond XML's own), an undeclared prefix, a
// document larger than the caller's bound and elements nested deeper than
// kMaxXmlDepth. SoapXmlTree builds a tree on top of it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qdipc {

// A UDP datagram carries at most 64 KiB.
inline constexpr std::size_t kMaxXmlBytes = 65536;
// A discovery message nests some six elements deep; 32 leaves room for any
// extension a device adds and refuses a document built to exhaust a stack.
inline constexpr int kMaxXmlDepth = 32;

struct XmlAttribute {
    std::string ns;  // empty for an attribute without a prefix
    std::string local;
    std::string value;
};

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
    // An element opens: its namespace URI ("" when it has none), local name
    // and attributes in document order (namespace declarations are not among
    // them). False stops the reading there: ReadXml returns false.
    virtual bool StartElement(std::string_view namespaceUri, std::string_view localName,
                              const std::vector<XmlAttribute>& attributes) = 0;
    // The innermost open element closes; scope is still the one inside it, so
    // that a QName in its text ("dn:NetworkVideoTransmitter") can be resolved.
    virtual void EndElement(const XmlScope& scope) = 0;
    // Character data inside the innermost open element, decoded (entities and
    // CDATA resolved) as UTF-8; one element's text may come in several pieces.
    virtual void Text(std::string_view text) = 0;

protected:
    ~XmlHandler() = default;
};

// Reads document (at most maxBytes long) from start to end and tells handler
// what it finds. True when the whole document is well-formed and within the
// limits; on false the handler may have been told part of it and error says
// why. The encoding a document declares is honoured; one the reader does not
// know is read as UTF-8.
bool ReadXml(std::string_view document, std::size_t maxBytes, XmlHandler& handler,
             std::string* error = nullptr);

}  // namespace qdipc
