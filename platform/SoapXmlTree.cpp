#include "platform/SoapXmlTree.h"

namespace qdipc {

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
