#include "platform/SoapXmlTree.h"

namespace qdipc {
namespace {

// Builds the tree as ReadXml tells the elements, counting them.
struct TreeBuilder final : XmlHandler {
    std::optional<XmlElement> root;
    std::vector<XmlElement*> open;  // the path from the root to the element being read
    std::size_t elements = 0;
    std::string error;

    bool StartElement(std::string_view ns, std::string_view local,
                      const std::vector<XmlAttribute>& attributes) override {
        if (++elements > kMaxXmlElements) {
            error = "the document has more than " + std::to_string(kMaxXmlElements) + " elements";
            return false;
        }
        XmlElement element{std::string(ns), std::string(local), attributes, {}, {}};
        if (open.empty()) {
            root = std::move(element);
            open.push_back(&*root);
        } else {
            // Only the closed siblings move as children grows; open holds none.
            XmlElement* parent = open.back();
            parent->children.push_back(std::move(element));
            open.push_back(&parent->children.back());
        }
        return true;
    }
    void EndElement(const XmlScope& /*scope*/) override {
        if (!open.empty()) {
            open.pop_back();
        }
    }
    void Text(std::string_view text) override {
        if (!open.empty()) {
            open.back()->text.append(text);
        }
    }
};

}  // namespace

std::optional<XmlElement> ParseSoapXml(std::string_view document, std::string* error) {
    TreeBuilder builder;
    std::string why;
    if (!ReadXml(document, kMaxXmlDocument, builder, &why) || !builder.root) {
        if (error != nullptr) {
            *error = !builder.error.empty() ? builder.error
                     : why.empty()          ? "the document has no element"
                                            : why;
        }
        return std::nullopt;
    }
    return std::move(builder.root);
}

const XmlElement* XmlElement::Child(std::string_view childNs, std::string_view childLocal) const {
    for (const XmlElement& child : children) {
        if (child.ns == childNs && child.local == childLocal) {
            return &child;
        }
    }
    return nullptr;
}

const XmlElement* XmlElement::Path(
    std::initializer_list<std::pair<std::string_view, std::string_view>> steps) const {
    const XmlElement* at = this;
    for (const auto& [stepNs, stepLocal] : steps) {
        at = at->Child(stepNs, stepLocal);
        if (at == nullptr) {
            return nullptr;
        }
    }
    return at;
}

std::vector<const XmlElement*> XmlElement::Children(std::string_view childNs,
                                                    std::string_view childLocal) const {
    std::vector<const XmlElement*> found;
    for (const XmlElement& child : children) {
        if (child.ns == childNs && child.local == childLocal) {
            found.push_back(&child);
        }
    }
    return found;
}

std::string XmlElement::Attribute(std::string_view name) const {
    for (const XmlAttribute& attribute : attributes) {
        if (attribute.local == name) {
            return attribute.value;
        }
    }
    return {};
}

}  // namespace qdipc
