#pragma once
// SOAP answers as a tree of elements, each named by its namespace URI and
// local name (never by prefix), with its attributes and its text. Built on
// ReadXml (platform/XmlReader.h), so its refusals hold here too: no document
// type declarations, no entities beyond XML's own, no undeclared prefix;
// sizes are bounded.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/XmlReader.h"

namespace qdipc {

struct XmlElement {
    std::string ns;
    std::string local;
    std::vector<XmlAttribute> attributes;
    std::string text;  // the element's own character data, joined
    std::vector<XmlElement> children;

    // The first child with this namespace URI and local name; null when none.
    const XmlElement* Child(std::string_view ns, std::string_view local) const;
    // Follows a path of (namespace, local name) pairs from this element.
    const XmlElement* Path(
        std::initializer_list<std::pair<std::string_view, std::string_view>> steps) const;
    // Every direct child with this name.
    std::vector<const XmlElement*> Children(std::string_view ns, std::string_view local) const;
    // The value of the attribute of this local name (any namespace); empty when none.
    std::string Attribute(std::string_view local) const;
};

// The bounds of one document: nesting deeper than kMaxXmlDepth or more
// elements than a real answer needs is refused, as is a document over
// kMaxXmlDocument bytes.
inline constexpr std::size_t kMaxXmlDocument = 1024 * 1024;
inline constexpr std::size_t kMaxXmlElements = 20000;

// The document's root element, or nothing (and *error says why) when the
// text is not well-formed XML with namespaces or breaks a bound.
std::optional<XmlElement> ParseSoapXml(std::string_view document, std::string* error = nullptr);

}  // namespace qdipc
