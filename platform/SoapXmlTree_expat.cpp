#include <expat.h>

#include <vector>

#include "platform/SoapXmlTree.h"

namespace qdipc {
namespace {

// expat gives a namespaced name as "URI<sep>local" with this separator.
constexpr char kSeparator = '\x01';

void SplitName(const XML_Char* name, std::string& ns, std::string& local) {
    const std::string_view text(name);
    const std::size_t at = text.rfind(kSeparator);
    if (at == std::string_view::npos) {
        ns.clear();
        local = text;
    } else {
        ns = text.substr(0, at);
        local = text.substr(at + 1);
    }
}

struct Builder {
    XML_Parser parser = nullptr;
    std::optional<XmlElement> root;
    std::vector<XmlElement*> open;  // the path from the root to the element being read
    std::size_t elements = 0;
    std::string error;

    void Stop(std::string why) {
        if (error.empty()) {
            error = std::move(why);
        }
        XML_StopParser(parser, XML_FALSE);
    }
};

void OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto* builder = static_cast<Builder*>(data);
    if (static_cast<int>(builder->open.size()) >= kMaxXmlDepth) {
        builder->Stop("the document nests deeper than " + std::to_string(kMaxXmlDepth));
        return;
    }
    if (++builder->elements > kMaxXmlElements) {
        builder->Stop("the document has more than " + std::to_string(kMaxXmlElements) +
                      " elements");
        return;
    }
    XmlElement element;
    SplitName(name, element.ns, element.local);
    for (int i = 0; attributes[i] != nullptr && attributes[i + 1] != nullptr; i += 2) {
        XmlAttribute attribute;
        SplitName(attributes[i], attribute.ns, attribute.local);
        attribute.value = attributes[i + 1];
        element.attributes.push_back(std::move(attribute));
    }
    if (builder->open.empty()) {
        builder->root = std::move(element);
        builder->open.push_back(&*builder->root);
    } else {
        XmlElement* parent = builder->open.back();
        parent->children.push_back(std::move(element));
        builder->open.push_back(&parent->children.back());
    }
}

void OnEnd(void* data, const XML_Char*) {
    auto* builder = static_cast<Builder*>(data);
    if (!builder->open.empty()) {
        builder->open.pop_back();
    }
}

void OnText(void* data, const XML_Char* text, int length) {
    auto* builder = static_cast<Builder*>(data);
    if (!builder->open.empty() && length > 0) {
        builder->open.back()->text.append(text, static_cast<std::size_t>(length));
    }
}

// A document type declaration (and with it every entity of its own) is
// refused: SOAP has none, and entities are how a small text grows large.
void OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<Builder*>(data)->Stop("the document declares a document type");
}

}  // namespace

std::optional<XmlElement> ParseSoapXml(std::string_view document, std::string* error) {
    const auto fail = [&](std::string why) -> std::optional<XmlElement> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return std::nullopt;
    };
    if (document.size() > kMaxXmlDocument) {
        return fail("the document is larger than " + std::to_string(kMaxXmlDocument) + " bytes");
    }
    Builder builder;
    builder.parser = XML_ParserCreateNS(nullptr, kSeparator);
    if (builder.parser == nullptr) {
        return fail("no memory for the XML reader");
    }
    XML_SetUserData(builder.parser, &builder);
    XML_SetElementHandler(builder.parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(builder.parser, OnText);
    XML_SetStartDoctypeDeclHandler(builder.parser, OnDoctype);
    const XML_Status status =
        XML_Parse(builder.parser, document.data(), static_cast<int>(document.size()), XML_TRUE);
    std::string why;
    if (status != XML_STATUS_OK) {
        why = builder.error.empty() ? std::string("not well-formed XML: ") +
                                          XML_ErrorString(XML_GetErrorCode(builder.parser))
                                    : builder.error;
    }
    XML_ParserFree(builder.parser);
    if (!why.empty()) {
        return fail(why);
    }
    if (!builder.root) {
        return fail("the document has no element");
    }
    return std::move(builder.root);
}

}  // namespace qdipc
