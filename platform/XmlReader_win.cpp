// XmlReader with the system's XmlLite. mingw-w64 ships xmllite.h but no import
// library, so CreateXmlReader is looked up in xmllite.dll when first needed.
// The document is read from a memory stream (SHCreateMemStream); document
// type declarations are prohibited, the element depth limited.
#include <objidl.h>
#include <shlwapi.h>
#include <windows.h>
#include <xmllite.h>

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
    // Not every XmlLite reports a document type declaration as a node of its
    // own; none may stand anywhere in a device's message.
    if (document.find("<!DOCTYPE") != std::string_view::npos) {
        return refuse("a document type declaration is not accepted");
    }
    const CreateXmlReaderFn create = FindCreateXmlReader();
    if (create == nullptr) {
        return refuse("xmllite.dll has no CreateXmlReader");
    }
    Releaser<IStream> stream{SHCreateMemStream(reinterpret_cast<const BYTE*>(document.data()),
                                               static_cast<UINT>(document.size()))};
    if (stream.object == nullptr) {
        return refuse("no memory stream");
    }
    Releaser<IXmlReader> reader;
    if (FAILED(create(kIidXmlReader, reinterpret_cast<void**>(&reader.object), nullptr)) ||
        reader.object == nullptr) {
        return refuse("no XML reader");
    }
    reader.object->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    // The exact limit is counted below; XmlLite's own is a backstop.
    reader.object->SetProperty(XmlReaderProperty_MaxElementDepth, kMaxXmlDepth + 1);
    if (FAILED(reader.object->SetInput(stream.object))) {
        return refuse("the XML reader takes no input");
    }
    Scope scope;
    int depth = 0;
    bool rootSeen = false;
    XmlNodeType type = XmlNodeType_None;
    HRESULT result = S_OK;
    while ((result = reader.object->Read(&type)) == S_OK) {
        if (type == XmlNodeType_DocumentType) {
            return refuse("a document type declaration is not accepted");
        }
        if (type == XmlNodeType_Element) {
            rootSeen = true;
            if (++depth > kMaxXmlDepth) {
                return refuse("elements nested too deep");
            }
            scope.marks.push_back(scope.declarations.size());
            // Declarations are told by their qualified names ("xmlns",
            // "xmlns:p"), which every XmlLite gives alike.
            for (HRESULT more = reader.object->MoveToFirstAttribute(); more == S_OK;
                 more = reader.object->MoveToNextAttribute()) {
                const WCHAR* text = nullptr;
                UINT length = 0;
                reader.object->GetQualifiedName(&text, &length);
                const std::string name = Utf8Of(text, length);
                if (name != "xmlns" && name.rfind("xmlns:", 0) != 0) {
                    continue;
                }
                std::string prefix = name == "xmlns" ? std::string() : name.substr(6);
                reader.object->GetValue(&text, &length);
                scope.declarations.emplace_back(std::move(prefix), Utf8Of(text, length));
            }
            reader.object->MoveToElement();
            const WCHAR* text = nullptr;
            UINT length = 0;
            // A prefix nobody declared is an error (not every XmlLite says so).
            reader.object->GetQualifiedName(&text, &length);
            const std::string qualified = Utf8Of(text, length);
            const std::size_t colon = qualified.find(':');
            if (colon != std::string::npos && !scope.NamespaceOf(qualified.substr(0, colon))) {
                return refuse("an undeclared namespace prefix");
            }
            reader.object->GetNamespaceUri(&text, &length);
            const std::string uri = Utf8Of(text, length);
            reader.object->GetLocalName(&text, &length);
            const std::string local = Utf8Of(text, length);
            handler.StartElement(uri, local);
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
                const WCHAR* text = nullptr;
                UINT length = 0;
                reader.object->GetValue(&text, &length);
                handler.Text(Utf8Of(text, length));
            }
        }
    }
    if (FAILED(result)) {
        return refuse("not well-formed XML");
    }
    if (!rootSeen) {
        return refuse("no element");
    }
    return true;
}

}  // namespace qdipc
