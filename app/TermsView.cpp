#include "app/TermsView.h"

#include "common/Errors.h"
#include "platform/ByteStream.h"
#include "platform/TextDecoding.h"

#include <richedit.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace keystrip {

namespace {

// EM_STREAMIN readers: the raw bytes of the terms, and their decoded text.
DWORD CALLBACK ReadStreamBytes(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    auto* stream = reinterpret_cast<platform::ByteStream*>(cookie);
    *done = static_cast<LONG>(stream->Read(buffer, static_cast<size_t>(count)));
    return 0;
}

struct TTextCursor {
    const std::u16string* Text;
    size_t Offset; // in bytes
};

DWORD CALLBACK ReadTextBytes(DWORD_PTR cookie, LPBYTE buffer, LONG count, LONG* done) {
    auto* cursor = reinterpret_cast<TTextCursor*>(cookie);
    const size_t total = cursor->Text->size() * sizeof(char16_t);
    const size_t n = std::min(static_cast<size_t>(count), total - cursor->Offset);
    memcpy(buffer, reinterpret_cast<const uint8_t*>(cursor->Text->data()) + cursor->Offset, n);
    cursor->Offset += n;
    *done = static_cast<LONG>(n);
    return 0;
}

} // namespace

std::vector<uint8_t> ReadTerms(const platform::IResourceSource& Resources) {
    std::unique_ptr<platform::ByteStream> terms = Resources.Open(u"EULA");
    if (!terms)
        throw EInOutError("the terms of use are missing");
    return terms->ReadToEnd();
}

void FillTermsView(HWND Edit, const std::vector<uint8_t>& Terms) {
    platform::MemoryViewStream stream(Terms.data(), Terms.size());
    EDITSTREAM rich{reinterpret_cast<DWORD_PTR>(&stream), 0, ReadStreamBytes};
    SendMessageW(Edit, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&rich));
    if (rich.dwError != 0) {
        // Not rich text: the same bytes again, as plain text in their encoding.
        const platform::DetectedEncoding encoding =
            platform::DetectEncoding(Terms.data(), Terms.size());
        const size_t skip = std::min(encoding.markSize, Terms.size());
        const std::u16string text =
            platform::DecodeAs(encoding.encoding, Terms.data() + skip, Terms.size() - skip);
        TTextCursor cursor{&text, 0};
        EDITSTREAM plain{reinterpret_cast<DWORD_PTR>(&cursor), 0, ReadTextBytes};
        SendMessageW(Edit, EM_STREAMIN, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&plain));
        if (plain.dwError != 0)
            throw EInOutError("the terms of use could not be loaded");
    }
    CHARRANGE start{0, 0};
    SendMessageW(Edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&start));
    SendMessageW(Edit, EM_SCROLLCARET, 0, 0);
}

} // namespace keystrip
