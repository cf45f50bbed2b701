// XmlReader with the system's XmlLite. mingw-w64 ships xmllite.h but no import
// library, so CreateXmlReader is looked up in xmllite.dll when first needed.
// The document is read from a memory stream (SHCreateMemStream); document
// type declarations are prohibited, the element depth limited, and what not
// every XmlLite refuses (Wine's lets a document type, an undefined entity, an
// undeclared prefix, an attribute twice and an empty document through) is
// refused here.
#include <objidl.h>
#include <shlwapi.h>
#include <windows.h>
#include <xmllite.h>

#include <algorithm>
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "platform/XmlReader.h"

namespace qdipc {
namespace {

using CreateXmlReaderFn = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

// The reader's interface ID, written out so that no GUID library is needed.
constexpr GUID kIidXmlReader = {
    0x7279fc81, 0x709d, 0x4095, {0xb6, 0x3d, 0x69, 0xfe, 0x4b, 0x0d, 0x90, 0x30}};

CreateXmlReaderFn FindCreateXmlReader() {
    static const CreateXmlReaderFn function = []() -> CreateXmlReaderFn {
        HMODULE library = LoadLibraryW(L"xmllite.dll");
        if (library == nullptr) {
            return nullptr;
        }
        return reinterpret_cast<CreateXmlReaderFn>(
            reinterpret_cast<void*>(GetProcAddress(library, "CreateXmlReader")));
    }();
    return function;
}

std::string Utf8Of(const WCHAR* text, UINT length) {
    if (text == nullptr || length == 0) {
        return {};
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                          nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), bytes, nullptr,
                            nullptr);
    }
    return out;
}

template <typename T>
struct Releaser {
    T* object = nullptr;
    ~Releaser() {
        if (object != nullptr) {
            object->Release();
        }
    }
};

struct Scope final : XmlScope {
    std::vector<std::pair<std::string, std::string>> declarations;
    std::vector<std::size_t> marks;  // declarations.size() when each open element began

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
};

bool IsDeclaration(std::string_view qualifiedName) {
    return qualifiedName == "xmlns" || qualifiedName.starts_with("xmlns:");
}

// What not every XmlLite refuses (Wine's reads past them): a document type
// declaration and an entity reference beyond XML's own. Comments, CDATA and
// processing instructions are skipped: "<!DOCTYPE" or "&" in them is text.
// A UTF-16 document (one with a NUL byte) is left to XmlLite alone.
const char* MarkupNotAccepted(std::string_view document) {
    if (document.find('\0') != std::string_view::npos) {
        return nullptr;
    }
    for (std::size_t at = 0; at < document.size(); ++at) {
        const std::string_view rest = document.substr(at);
        const std::string_view end = rest.starts_with("<!--")        ? "-->"
                                     : rest.starts_with("<![CDATA[") ? "]]>"
                                     : rest.starts_with("<?")        ? "?>"
                                                                     : "";
        if (!end.empty()) {
            at = document.find(end, at + 2);
            if (at == std::string_view::npos) {
                return nullptr;  // unclosed: the reader refuses it
            }
            at += end.size() - 1;
        } else if (rest.starts_with("<!DOCTYPE")) {
            return "the document declares a document type";
        } else if (rest.front() == '&') {
            const std::string_view name = rest.substr(1, rest.find(';') - 1);
            if (!name.starts_with('#') && name != "lt" && name != "gt" && name != "amp" &&
                name != "apos" && name != "quot") {
                return "not well-formed XML: an undefined entity";
            }
        }
    }
    return nullptr;
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
    if (const char* why = MarkupNotAccepted(document)) {
        return refuse(why);
    }
    const CreateXmlReaderFn create = FindCreateXmlReader();
    if (create == nullptr) {
        return refuse("the system's XML reader (xmllite.dll) is missing");
    }
    Releaser<IStream> stream{SHCreateMemStream(reinterpret_cast<const BYTE*>(document.data()),
                                               static_cast<UINT>(document.size()))};
    Releaser<IXmlReader> reader;
    if (stream.object == nullptr ||
        FAILED(create(kIidXmlReader, reinterpret_cast<void**>(&reader.object), nullptr)) ||
        reader.object == nullptr) {
        return refuse("no memory for the XML reader");
    }
    reader.object->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    // The exact limit is counted below; XmlLite's own is a backstop.
    reader.object->SetProperty(XmlReaderProperty_MaxElementDepth, kMaxXmlDepth + 1);
    if (FAILED(reader.object->SetInput(stream.object))) {
        return refuse("no memory for the XML reader");
    }
    Scope scope;
    int depth = 0;
    bool rootSeen = false;
    // The attributes' qualified names, and the others' namespace and local
    // names: none twice (Wine's XmlLite does not check).
    std::vector<std::string> qualifiedNames;
    std::vector<std::pair<std::string, std::string>> expandedNames;
    std::vector<XmlAttribute> attributes;
    XmlNodeType type = XmlNodeType_None;
    HRESULT result = S_OK;
    const auto read = [&reader](decltype(&IXmlReader::GetValue) get) {
        const WCHAR* text = nullptr;
        UINT length = 0;
        return (reader.object->*get)(&text, &length) == S_OK ? Utf8Of(text, length) : std::string();
    };
    const auto undeclared = [&scope](const std::string& qualified) {
        const std::size_t colon = qualified.find(':');
        return colon != std::string::npos && !scope.NamespaceOf(qualified.substr(0, colon));
    };
    while ((result = reader.object->Read(&type)) == S_OK) {
        if (type == XmlNodeType_DocumentType) {
            return refuse("the document declares a document type");
        }
        if (type == XmlNodeType_Element) {
            rootSeen = true;
            if (++depth > kMaxXmlDepth) {
                return refuse("the document nests deeper than " + std::to_string(kMaxXmlDepth));
            }
            scope.marks.push_back(scope.declarations.size());
            // Declarations are told by their qualified names ("xmlns",
            // "xmlns:p"), which every XmlLite gives alike.
            qualifiedNames.clear();
            expandedNames.clear();
            attributes.clear();
            for (HRESULT more = reader.object->MoveToFirstAttribute(); more == S_OK;
                 more = reader.object->MoveToNextAttribute()) {
                std::string name = read(&IXmlReader::GetQualifiedName);
                if (IsDeclaration(name)) {
                    scope.declarations.emplace_back(name == "xmlns" ? "" : name.substr(6),
                                                    read(&IXmlReader::GetValue));
                } else {
                    attributes.push_back({read(&IXmlReader::GetNamespaceUri),
                                          read(&IXmlReader::GetLocalName),
                                          read(&IXmlReader::GetValue)});
                    expandedNames.emplace_back(attributes.back().ns, attributes.back().local);
                }
                qualifiedNames.push_back(std::move(name));
            }
            reader.object->MoveToElement();
            // A prefix nobody declared is an error (not every XmlLite says so).
            bool bound = !undeclared(read(&IXmlReader::GetQualifiedName));
            for (const std::string& name : qualifiedNames) {
                bound = bound && (IsDeclaration(name) || !undeclared(name));
            }
            if (!bound) {
                return refuse("not well-formed XML: an undeclared prefix");
            }
            std::sort(qualifiedNames.begin(), qualifiedNames.end());
            std::sort(expandedNames.begin(), expandedNames.end());
            if (std::adjacent_find(qualifiedNames.begin(), qualifiedNames.end()) !=
                    qualifiedNames.end() ||
                std::adjacent_find(expandedNames.begin(), expandedNames.end()) !=
                    expandedNames.end()) {
                return refuse("not well-formed XML: an attribute twice");
            }
            if (!handler.StartElement(read(&IXmlReader::GetNamespaceUri),
                                      read(&IXmlReader::GetLocalName), attributes)) {
                return refuse("the reading was stopped");
            }
            if (reader.object->IsEmptyElement()) {
                handler.EndElement(scope);
                --depth;
                scope.declarations.resize(scope.marks.back());
                scope.marks.pop_back();
            }
        } else if (type == XmlNodeType_EndElement) {
            handler.EndElement(scope);
            --depth;
            if (!scope.marks.empty()) {
                scope.declarations.resize(scope.marks.back());
                scope.marks.pop_back();
            }
        } else if (type == XmlNodeType_Text || type == XmlNodeType_CDATA ||
                   type == XmlNodeType_Whitespace) {
            if (depth > 0) {
                handler.Text(read(&IXmlReader::GetValue));
            }
        }
    }
    if (FAILED(result)) {
        return refuse("not well-formed XML");
    }
    if (!rootSeen) {
        return refuse("the document has no element");
    }
    return true;
}

}  // namespace qdipc
