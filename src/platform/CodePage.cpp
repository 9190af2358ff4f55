#include "CodePage.h"

#include "CodePageTables.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucol.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using platform::codepage::CodePageData;
using platform::codepage::CodePageDataFor;

// Lower-casing and lead-byte tests run for every URL of the cache, so they read the tables of
// the chosen code page through one atomic pointer and take no lock. The tables are never freed.
std::atomic<const CodePageData*> gCurrent{nullptr};

// Everything else (choosing the code page, ICU collators and converters, scratch buffers) is
// guarded by this mutex. ICU collators and converters must not be shared between threads
// without one.
std::mutex gMutex;

// How a converter's callback renders bytes the code page leaves undefined.
const int kShowReplacement = 0;
const int kKeepBytesDistinct = 1;

void RenderUndefinedBytes(const void* context, UConverterToUnicodeArgs* args, const char* codeUnits,
                          int32_t length, UConverterCallbackReason reason, UErrorCode* error) {
    if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR)
        return;
    *error = U_ZERO_ERROR;
    if (context == &kKeepBytesDistinct) {
        for (int32_t i = 0; i < length && U_SUCCESS(*error); ++i) {
            const UChar standIn = static_cast<UChar>(platform::codepage::kUndefinedByteBase +
                                                     static_cast<unsigned char>(codeUnits[i]));
            ucnv_cbToUWriteUChars(args, &standIn, 1, 0, error);
        }
        return;
    }
    const UChar replacement = 0xFFFD;
    ucnv_cbToUWriteUChars(args, &replacement, 1, 0, error);
}

struct CollatorCloser {
    void operator()(UCollator* collator) const { ucol_close(collator); }
};
struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

CollatorPtr OpenCollator(const std::string& locale, UCollationStrength strength) {
    UErrorCode error = U_ZERO_ERROR;
    CollatorPtr collator(ucol_open(locale.c_str(), &error));
    if (U_FAILURE(error)) {
        error = U_ZERO_ERROR;
        collator.reset(ucol_open("", &error));
        if (U_FAILURE(error))
            return nullptr;
    }
    ucol_setStrength(collator.get(), strength);
    return collator;
}

ConverterPtr OpenDecoder(win::UINT codePage, const int* undefinedBytes) {
    UErrorCode error = U_ZERO_ERROR;
    ConverterPtr converter(
        ucnv_open(platform::codepage::IcuConverterName(codePage).c_str(), &error));
    if (U_FAILURE(error))
        return nullptr;
    ucnv_setToUCallBack(converter.get(), RenderUndefinedBytes, undefinedBytes, nullptr, nullptr,
                        &error);
    if (U_FAILURE(error))
        return nullptr;
    return converter;
}

// The ICU objects for the chosen code page and collation locale, opened on first use and
// dropped whenever the choice changes. Only used under gMutex.
class TextServices {
public:
    void Reset(const CodePageData* data, std::string collationLocale) {
        *this = TextServices();
        data_ = data;
        collationLocale_ = std::move(collationLocale);
    }

    bool Chosen() const { return data_ != nullptr; }

    UCollator* Collator(bool ignoreCase) {
        CollatorPtr& slot = ignoreCase ? ignoreCaseCollator_ : caseCollator_;
        if (!slot)
            slot = OpenCollator(collationLocale_, ignoreCase ? UCOL_SECONDARY : UCOL_TERTIARY);
        return slot.get();
    }

    // Decodes for collation into `out`; a byte the code page leaves undefined keeps an identity
    // of its own, so that two different byte strings never decode alike.
    bool DecodeForCollation(std::string_view text, std::u16string& out) {
        if (!data_->doubleByte) {
            out.resize(text.size());
            for (std::size_t i = 0; i < text.size(); ++i)
                out[i] = data_->collation[static_cast<unsigned char>(text[i])];
            return true;
        }
        return Decode(collationDecoder_, &kKeepBytesDistinct, text, out);
    }

    bool DecodeForDisplay(std::string_view text, std::u16string& out) {
        if (!data_->doubleByte) {
            out.resize(text.size());
            for (std::size_t i = 0; i < text.size(); ++i)
                out[i] = data_->display[static_cast<unsigned char>(text[i])];
            return true;
        }
        return Decode(displayDecoder_, &kShowReplacement, text, out);
    }

    std::u16string& First() { return first_; }
    std::u16string& Second() { return second_; }
    std::vector<uint8_t>& KeyBuffer() { return key_; }

private:
    bool Decode(ConverterPtr& decoder, const int* undefinedBytes, std::string_view text,
                std::u16string& out) {
        if (!decoder)
            decoder = OpenDecoder(data_->codePage, undefinedBytes);
        if (!decoder)
            return false;
        // No byte of these code pages decodes to more than two UTF-16 units.
        const std::size_t capacity = text.size() * 2 + 1;
        if (capacity > static_cast<std::size_t>(INT32_MAX))
            return false;
        out.resize(capacity);
        UErrorCode error = U_ZERO_ERROR;
        const int32_t count =
            ucnv_toUChars(decoder.get(), out.data(), static_cast<int32_t>(capacity), text.data(),
                          static_cast<int32_t>(text.size()), &error);
        if (U_FAILURE(error))
            return false;
        out.resize(static_cast<std::size_t>(count));
        return true;
    }

    const CodePageData* data_ = nullptr;
    std::string collationLocale_;
    CollatorPtr ignoreCaseCollator_;
    CollatorPtr caseCollator_;
    ConverterPtr displayDecoder_;
    ConverterPtr collationDecoder_;
    std::u16string first_;
    std::u16string second_;
    std::vector<uint8_t> key_;
};

TextServices& Services() {
    // Never destroyed, like the tables: text may still be compared during static tear-down.
    static auto* const services = new TextServices;
    return *services;
}

// Chooses the code page and collation locale; 0 means from the process locale. Needs gMutex.
const CodePageData& ChooseLocked(win::UINT codePage, const char* collationLocale) {
    std::string collation;
    if (codePage == 0) {
        const auto locale =
            platform::codepage::ParseLocaleName(platform::codepage::ProcessLocaleName());
        codePage = platform::codepage::AnsiCodePageFor(locale);
        collation = platform::codepage::CollationLocaleFor(locale);
    } else {
        collation = collationLocale != nullptr
                        ? std::string(collationLocale)
                        : platform::codepage::DefaultCollationLocaleFor(codePage);
    }
    const CodePageData& data = CodePageDataFor(codePage);
    Services().Reset(&data, std::move(collation));
    gCurrent.store(&data, std::memory_order_release);
    return data;
}

const CodePageData& Current() {
    if (const CodePageData* data = gCurrent.load(std::memory_order_acquire))
        return *data;
    const std::lock_guard lock(gMutex);
    if (const CodePageData* data = gCurrent.load(std::memory_order_acquire))
        return *data;
    return ChooseLocked(0, nullptr);
}

// The text services for the current choice. Needs gMutex.
TextServices& ServicesLocked() {
    TextServices& services = Services();
    if (!services.Chosen())
        ChooseLocked(0, nullptr);
    return services;
}

std::string_view CountedText(win::LPCSTR text, int length) {
    return length < 0 ? std::string_view(text) : std::string_view(text, std::size_t(length));
}

int ToCompareResult(UCollationResult result) {
    switch (result) {
    case UCOL_LESS:
        return win::CSTR_LESS_THAN;
    case UCOL_EQUAL:
        return win::CSTR_EQUAL;
    case UCOL_GREATER:
        return win::CSTR_GREATER_THAN;
    }
    return 0;
}

void LowerDoubleByteText(const CodePageData& data, unsigned char* text, win::DWORD length) {
    win::DWORD i = 0;
    while (i < length) {
        const unsigned char byte = text[i];
        if (data.leadByte[byte] && i + 1 < length) {
            const std::uint16_t lowered = data.pairLower[std::size_t(byte << 8 | text[i + 1])];
            if (lowered != 0) {
                text[i] = static_cast<unsigned char>(lowered >> 8);
                text[i + 1] = static_cast<unsigned char>(lowered & 0xFF);
            }
            i += 2;
            continue;
        }
        text[i] = data.lower[byte];
        ++i;
    }
}

} // namespace

namespace win {

UINT GetACP() {
    return Current().codePage;
}

BOOL IsDBCSLeadByte(BYTE c) {
    return Current().leadByte[c] ? TRUE : FALSE;
}

DWORD CharLowerBuffA(LPSTR text, DWORD length) {
    if (text == nullptr)
        return 0;
    const CodePageData& data = Current();
    auto* bytes = reinterpret_cast<unsigned char*>(text);
    if (data.doubleByte) {
        LowerDoubleByteText(data, bytes, length);
        return length;
    }
    for (DWORD i = 0; i < length; ++i)
        bytes[i] = data.lower[bytes[i]];
    return length;
}

// Every locale argument means the user's locale: the program asks for no other.
int CompareStringA(LCID /*locale*/, DWORD flags, LPCSTR a, int lengthA, LPCSTR b, int lengthB) {
    if (a == nullptr || b == nullptr || lengthA < -1 || lengthB < -1 ||
        (flags & ~NORM_IGNORECASE) != 0)
        return 0;
    const std::lock_guard lock(gMutex);
    TextServices& services = ServicesLocked();
    std::u16string& first = services.First();
    std::u16string& second = services.Second();
    if (!services.DecodeForCollation(CountedText(a, lengthA), first) ||
        !services.DecodeForCollation(CountedText(b, lengthB), second))
        return 0;
    UCollator* collator = services.Collator((flags & NORM_IGNORECASE) != 0);
    if (collator == nullptr || first.size() > INT32_MAX || second.size() > INT32_MAX)
        return 0;
    return ToCompareResult(ucol_strcoll(collator, first.data(), int32_t(first.size()),
                                        second.data(), int32_t(second.size())));
}

} // namespace win

namespace platform {

std::string AnsiLowerCase(std::string_view text) {
    std::string result(text);
    win::CharLowerBuffA(result.data(), static_cast<win::DWORD>(result.size()));
    return result;
}

std::u16string AnsiToUtf16(std::string_view text) {
    const std::lock_guard lock(gMutex);
    std::u16string result;
    if (!ServicesLocked().DecodeForDisplay(text, result)) {
        // Without a converter nothing may get lost either: one replacement per byte.
        result.assign(text.size(), u'\uFFFD');
        for (std::size_t i = 0; i < text.size(); ++i)
            if (static_cast<unsigned char>(text[i]) < 0x80)
                result[i] = static_cast<char16_t>(text[i]);
    }
    return result;
}

std::string Utf16ToAnsi(std::u16string_view text) {
    std::string result(text.size(), '\0');
    std::size_t ascii = 0;
    while (ascii < text.size() && text[ascii] < 0x80) {
        result[ascii] = static_cast<char>(text[ascii]);
        ++ascii;
    }
    if (ascii == text.size())
        return result;
    const win::UINT codePage = Current().codePage;
    const std::lock_guard lock(gMutex);
    static win::UINT encoderCodePage = 0;
    static ConverterPtr encoder;
    if (!encoder || encoderCodePage != codePage) {
        UErrorCode error = U_ZERO_ERROR;
        encoder.reset(ucnv_open(platform::codepage::IcuConverterName(codePage).c_str(), &error));
        if (U_FAILURE(error))
            encoder.reset();
        if (encoder) {
            ucnv_setFallback(encoder.get(), false);
            ucnv_setSubstChars(encoder.get(), "?", 1, &error);
        }
        encoderCodePage = codePage;
    }
    // Without a converter, what is not ASCII cannot be told apart: every such unit is "?".
    if (!encoder || text.size() > static_cast<std::size_t>(INT32_MAX / 4)) {
        for (std::size_t i = ascii; i < text.size(); ++i)
            result[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
        return result;
    }
    // No character takes more than two bytes in these code pages.
    result.resize(text.size() * 2 + 1);
    UErrorCode error = U_ZERO_ERROR;
    ucnv_reset(encoder.get());
    const int32_t count =
        ucnv_fromUChars(encoder.get(), result.data(), static_cast<int32_t>(result.size()),
                        text.data(), static_cast<int32_t>(text.size()), &error);
    if (U_FAILURE(error))
        return std::string(text.size(), '?');
    result.resize(static_cast<std::size_t>(count));
    return result;
}

std::string IgnoreCaseCollationKey(std::string_view text) {
    const std::lock_guard lock(gMutex);
    TextServices& services = ServicesLocked();
    std::u16string& decoded = services.First();
    UCollator* collator = services.Collator(true);
    if (collator == nullptr || !services.DecodeForCollation(text, decoded) ||
        decoded.size() > INT32_MAX)
        return AnsiLowerCase(text);
    std::vector<uint8_t>& key = services.KeyBuffer();
    if (key.size() < 64)
        key.resize(64);
    int32_t needed = ucol_getSortKey(collator, decoded.data(), int32_t(decoded.size()), key.data(),
                                     int32_t(key.size()));
    if (needed > int32_t(key.size())) {
        key.resize(std::size_t(needed));
        needed = ucol_getSortKey(collator, decoded.data(), int32_t(decoded.size()), key.data(),
                                 int32_t(key.size()));
    }
    if (needed <= 0)
        return AnsiLowerCase(text);
    // The key ends in a NUL that no other key byte equals; leaving it out keeps the order.
    return std::string(reinterpret_cast<const char*>(key.data()), std::size_t(needed - 1));
}

void SetAnsiCodePageForTesting(win::UINT codePage, const char* collationLocale) {
    const std::lock_guard lock(gMutex);
    ChooseLocked(codePage, collationLocale);
}

} // namespace platform
