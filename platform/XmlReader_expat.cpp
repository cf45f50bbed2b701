// XmlReader with expat: a namespace-aware parser (names come as "uri\x01local"),
// document type declarations refused (no entity of a device's making is ever
// expanded), depth counted on every start tag.
#include <expat.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/XmlReader.h"

namespace qdipc {
namespace {

constexpr char kSeparator = '\x01';

struct ExpatState final : XmlScope {
    XML_Parser parser = nullptr;
    XmlHandler* handler = nullptr;
    int depth = 0;
    std::string failure;
    // Declared prefixes, innermost last.
    std::vector<std::pair<std::string, std::string>> declarations;

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

    void Fail(const char* why) {
        if (failure.empty()) {
            failure = why;
        }
        XML_StopParser(parser, XML_FALSE);
    }
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** /*attributes*/) {
    auto* state = static_cast<ExpatState*>(data);
    if (++state->depth > kMaxXmlDepth) {
        state->Fail("elements nested too deep");
        return;
    }
    const std::string_view full(name);
    const std::size_t split = full.find(kSeparator);
    if (split == std::string_view::npos) {
        state->handler->StartElement({}, full);
    } else {
        state->handler->StartElement(full.substr(0, split), full.substr(split + 1));
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

void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<ExpatState*>(data)->Fail("a document type declaration is not accepted");
}

}  // namespace

bool ReadXml(std::string_view document, XmlHandler& handler, std::string* error) {
    const auto refuse = [error](std::string why) {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return false;
    };
    if (document.size() > kMaxXmlBytes) {
        return refuse("document larger than 64 KiB");
    }
    ExpatState state;
    state.handler = &handler;
    state.parser = XML_ParserCreateNS("UTF-8", kSeparator);
    if (state.parser == nullptr) {
        return refuse("no memory for the XML parser");
    }
    XML_SetUserData(state.parser, &state);
    XML_SetElementHandler(state.parser, OnStart, OnEnd);
    XML_SetCharacterDataHandler(state.parser, OnText);
    XML_SetNamespaceDeclHandler(state.parser, OnNamespaceStart, OnNamespaceEnd);
    XML_SetStartDoctypeDeclHandler(state.parser, OnDoctype);
    const XML_Status status =
        XML_Parse(state.parser, document.data(), static_cast<int>(document.size()), XML_TRUE);
    std::string why = state.failure;
    if (status != XML_STATUS_OK && why.empty()) {
        why = XML_ErrorString(XML_GetErrorCode(state.parser));
    }
    XML_ParserFree(state.parser);
    if (status != XML_STATUS_OK || !why.empty()) {
        return refuse(why);
    }
    return true;
}

}  // namespace qdipc
