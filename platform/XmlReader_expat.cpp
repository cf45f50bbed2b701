// XmlReader with expat: a namespace-aware parser (names come as "uri\x01local"),
// document type declarations refused (no entity of a device's making is ever
// expanded), depth counted on every start tag.
#include <expat.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "platform/XmlReader.h"

namespace qdipc {
namespace {

constexpr char kSeparator = '\x01';

void SplitName(std::string_view name, std::string& ns, std::string& local) {
    const std::size_t split = name.find(kSeparator);
    ns = split == std::string_view::npos ? std::string_view() : name.substr(0, split);
    local = split == std::string_view::npos ? name : name.substr(split + 1);
}

struct ExpatState final : XmlScope {
    XML_Parser parser = nullptr;
    XmlHandler* handler = nullptr;
    int depth = 0;
    std::string failure;
    // Declared prefixes, innermost last.
    std::vector<std::pair<std::string, std::string>> declarations;
    XmlAttribute name;  // the element's name, reused
    std::vector<XmlAttribute> attributes;

    std::optional<std::string> NamespaceOf(std::string_view prefix) const override {
        for (auto it = declarations.rbegin(); it != declarations.rend(); ++it) {
            if (it->first == prefix) {
                return it->second;
            }
        }
        if (prefix == "xml") {
            return std::string("http://www.w3.org/XML/1998/namespace");
        }
        if (prefix.empty()) {
            return std::string();
        }
        return std::nullopt;
    }

    void Fail(std::string why) {
        if (failure.empty()) {
            failure = std::move(why);
        }
        XML_StopParser(parser, XML_FALSE);
    }
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
    auto* state = static_cast<ExpatState*>(data);
    if (++state->depth > kMaxXmlDepth) {
        state->Fail("the document nests deeper than " + std::to_string(kMaxXmlDepth));
        return;
    }
    SplitName(name, state->name.ns, state->name.local);
    state->attributes.clear();
    for (int i = 0; attributes[i] != nullptr && attributes[i + 1] != nullptr; i += 2) {
        XmlAttribute& attribute = state->attributes.emplace_back();
        SplitName(attributes[i], attribute.ns, attribute.local);
        attribute.value = attributes[i + 1];
    }
    if (!state->handler->StartElement(state->name.ns, state->name.local, state->attributes)) {
        state->Fail("the reading was stopped");
    }
}

void XMLCALL OnEnd(void* data, const XML_Char* /*name*/) {
    auto* state = static_cast<ExpatState*>(data);
    --state->depth;
    state->handler->EndElement(*state);
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
    auto* state = static_cast<ExpatState*>(data);
    state->handler->Text(std::string_view(text, static_cast<std::size_t>(length)));
}

void XMLCALL OnNamespaceStart(void* data, const XML_Char* prefix, const XML_Char* uri) {
    auto* state = static_cast<ExpatState*>(data);
    state->declarations.emplace_back(prefix != nullptr ? prefix : "", uri != nullptr ? uri : "");
}

void XMLCALL OnNamespaceEnd(void* data, const XML_Char* /*prefix*/) {
    auto* state = static_cast<ExpatState*>(data);
    if (!state->declarations.empty()) {
        state->declarations.pop_back();
    }
}

// A document type declaration (and with it every entity of its own) is
// refused: SOAP has none, and entities are how a small text grows large.
void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<ExpatState*>(data)->Fail("the document declares a document type");
}

}  // namespace

bool ReadXml(std::string_view document, std::size_t maxBytes, XmlHandler& handler,
             std::string* error) {
    const auto refuse = [error](std::string why) {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return false;
    };
    if (document.size() > maxBytes || document.size() > INT_MAX) {
        return refuse("the document is larger than " + std::to_string(maxBytes) + " bytes");
    }
    // The declared encoding first; one expat does not know (a device's
    // "GB2312" over plain ASCII) as UTF-8. That error comes at the XML
    // declaration, before the handler is told anything.
    for (const XML_Char* encoding : {static_cast<const XML_Char*>(nullptr), "UTF-8"}) {
        ExpatState state;
        state.handler = &handler;
        state.parser = XML_ParserCreateNS(encoding, kSeparator);
        if (state.parser == nullptr) {
            return refuse("no memory for the XML reader");
        }
        XML_SetUserData(state.parser, &state);
        XML_SetElementHandler(state.parser, OnStart, OnEnd);
        XML_SetCharacterDataHandler(state.parser, OnText);
        XML_SetNamespaceDeclHandler(state.parser, OnNamespaceStart, OnNamespaceEnd);
        XML_SetStartDoctypeDeclHandler(state.parser, OnDoctype);
        const XML_Status status =
            XML_Parse(state.parser, document.data(), static_cast<int>(document.size()), XML_TRUE);
        const XML_Error code = XML_GetErrorCode(state.parser);
        std::string why = state.failure;
        if (status != XML_STATUS_OK && why.empty()) {
            why = std::string("not well-formed XML: ") + XML_ErrorString(code);
        }
        XML_ParserFree(state.parser);
        if (status == XML_STATUS_OK) {
            return true;
        }
        if (code != XML_ERROR_UNKNOWN_ENCODING || encoding != nullptr) {
            return refuse(why);
        }
    }
    return false;
}

}  // namespace qdipc
