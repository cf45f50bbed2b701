// The SOAP reader on Windows: the system's XmlLite. mingw ships its header
// but no import library, so CreateXmlReader is looked up in xmllite.dll
// (Wine has it too). DTDs are refused (XmlLite's default).

// clang-format off
#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
#include <xmllite.h>
// clang-format on

#include <vector>

#include "platform/SoapXmlTree.h"

namespace qdipc {
namespace {

// IID_IXmlReader, written out: the header declares it without storage.
const GUID kIidXmlReader = {
    0x7279fc81, 0x709d, 0x4095, {0xb6, 0x3d, 0x69, 0xfe, 0x4b, 0x0d, 0x90, 0x30}};
constexpr const wchar_t* kXmlnsUri = L"http://www.w3.org/2000/xmlns/";

using CreateXmlReaderFn = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

std::string Utf8(const wchar_t* text, UINT length) {
    if (text == nullptr || length == 0) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                            nullptr);
    }
    return out;
}

CreateXmlReaderFn LoadCreateXmlReader() {
    static const CreateXmlReaderFn create = [] {
        HMODULE module = LoadLibraryW(L"xmllite.dll");
        return module ? reinterpret_cast<CreateXmlReaderFn>(
                            reinterpret_cast<void*>(GetProcAddress(module, "CreateXmlReader")))
                      : nullptr;
    }();
    return create;
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
    const CreateXmlReaderFn create = LoadCreateXmlReader();
    if (create == nullptr) {
        return fail("the system's XML reader (xmllite.dll) is missing");
    }
    IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(document.data()),
                                        static_cast<UINT>(document.size()));
    IXmlReader* reader = nullptr;
    if (stream == nullptr ||
        FAILED(create(kIidXmlReader, reinterpret_cast<void**>(&reader), nullptr))) {
        if (stream != nullptr) {
            stream->Release();
        }
        return fail("no memory for the XML reader");
    }
    reader->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit);
    reader->SetInput(stream);

    std::optional<XmlElement> root;
    std::vector<XmlElement*> open;
    std::size_t elements = 0;
    std::string why;
    XmlNodeType type = XmlNodeType_None;
    HRESULT result = S_OK;
    while ((result = reader->Read(&type)) == S_OK) {
        if (type == XmlNodeType_Element) {
            if (static_cast<int>(open.size()) >= kMaxXmlDepth) {
                why = "the document nests deeper than " + std::to_string(kMaxXmlDepth);
                break;
            }
            if (++elements > kMaxXmlElements) {
                why = "the document has more than " + std::to_string(kMaxXmlElements) + " elements";
                break;
            }
            XmlElement element;
            const wchar_t* text = nullptr;
            UINT length = 0;
            reader->GetNamespaceUri(&text, &length);
            element.ns = Utf8(text, length);
            reader->GetLocalName(&text, &length);
            element.local = Utf8(text, length);
            // A prefix bound to no namespace is not well-formed (Wine's
            // XmlLite lets it pass; the system's refuses it).
            const wchar_t* qualified = nullptr;
            UINT qualifiedLength = 0;
            if (element.ns.empty() &&
                reader->GetQualifiedName(&qualified, &qualifiedLength) == S_OK &&
                std::wstring_view(qualified, qualifiedLength).find(L':') !=
                    std::wstring_view::npos) {
                why = "not well-formed XML: an undeclared prefix";
                break;
            }
            const bool empty = reader->IsEmptyElement() != FALSE;
            for (HRESULT at = reader->MoveToFirstAttribute(); at == S_OK;
                 at = reader->MoveToNextAttribute()) {
                XmlAttribute attribute;
                reader->GetNamespaceUri(&text, &length);
                if (text != nullptr && std::wstring_view(text, length) == kXmlnsUri) {
                    continue;  // a namespace declaration, not an attribute
                }
                attribute.ns = Utf8(text, length);
                reader->GetLocalName(&text, &length);
                attribute.local = Utf8(text, length);
                reader->GetValue(&text, &length);
                attribute.value = Utf8(text, length);
                element.attributes.push_back(std::move(attribute));
            }
            reader->MoveToElement();
            XmlElement* added = nullptr;
            if (open.empty()) {
                root = std::move(element);
                added = &*root;
            } else {
                open.back()->children.push_back(std::move(element));
                added = &open.back()->children.back();
            }
            if (!empty) {
                open.push_back(added);
            }
        } else if (type == XmlNodeType_EndElement) {
            if (!open.empty()) {
                open.pop_back();
            }
        } else if (type == XmlNodeType_Text || type == XmlNodeType_CDATA ||
                   type == XmlNodeType_Whitespace) {
            const wchar_t* text = nullptr;
            UINT length = 0;
            if (!open.empty() && reader->GetValue(&text, &length) == S_OK) {
                open.back()->text += Utf8(text, length);
            }
        } else if (type == XmlNodeType_DocumentType) {
            why = "the document declares a document type";
            break;
        }
    }
    if (why.empty() && FAILED(result)) {
        why = "not well-formed XML";
    }
    reader->Release();
    stream->Release();
    if (!why.empty()) {
        return fail(why);
    }
    if (!root) {
        return fail("the document has no element");
    }
    return root;
}

}  // namespace qdipc
