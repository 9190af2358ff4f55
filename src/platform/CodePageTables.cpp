#include "CodePageTables.h"

#include "platform/AsciiCase.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

namespace platform::codepage {
namespace {

std::string Uppered(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return result;
}

struct LanguageCodePage {
    const char* language;
    win::UINT codePage;
};

// Languages whose ANSI code page is not 1252; everything else (western languages, "C",
// "POSIX", unknown) gets 1252. Languages with a script choice are decided in AnsiCodePageFor.
constexpr LanguageCodePage kLanguageCodePages[] = {
    {"ru", 1251}, {"uk", 1251}, {"bg", 1251}, {"be", 1251}, {"mk", 1251}, {"kk", 1251},
    {"ky", 1251}, {"tt", 1251}, {"mn", 1251}, {"ba", 1251}, {"tg", 1251}, {"ja", 932},
    {"ko", 949},  {"el", 1253}, {"tr", 1254}, {"he", 1255}, {"iw", 1255}, {"yi", 1255},
    {"ar", 1256}, {"fa", 1256}, {"ur", 1256}, {"et", 1257}, {"lv", 1257}, {"lt", 1257},
    {"vi", 1258}, {"pl", 1250}, {"cs", 1250}, {"sk", 1250}, {"hu", 1250}, {"sl", 1250},
    {"hr", 1250}, {"ro", 1250}, {"sq", 1250}, {"bs", 1250}, {"th", 874},
};

bool IsCyrillicModifier(std::string_view modifier) {
    return modifier == "cyrillic";
}
bool IsLatinModifier(std::string_view modifier) {
    return modifier == "latin";
}

bool IsTraditionalChineseTerritory(std::string_view territory) {
    return territory == "TW" || territory == "HK" || territory == "MO";
}

bool IsPlainLanguageCode(std::string_view language) {
    if (language.size() < 2 || language.size() > 3)
        return false;
    for (char c : language)
        if (c < 'a' || c > 'z')
            return false;
    return true;
}

std::string ScriptSubtag(const LocaleName& locale) {
    if (IsLatinModifier(locale.modifier))
        return "Latn";
    if (IsCyrillicModifier(locale.modifier))
        return "Cyrl";
    return {};
}

// --- Tables from ICU -------------------------------------------------------------------------

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr OpenStrictConverter(win::UINT codePage) {
    UErrorCode error = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(IcuConverterName(codePage).c_str(), &error));
    if (U_FAILURE(error))
        return nullptr;
    // Undefined input must show up as an error, not as a substitute that looks like a letter.
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &error);
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &error);
    if (U_FAILURE(error))
        return nullptr;
    return converter;
}

// The one code point that `bytes` decode to, or -1.
UChar32 DecodeOne(UConverter* converter, const char* bytes, int32_t length) {
    UChar units[4];
    UErrorCode error = U_ZERO_ERROR;
    const int32_t count = ucnv_toUChars(converter, units, 4, bytes, length, &error);
    if (U_FAILURE(error) || count <= 0)
        return -1;
    UChar32 codePoint = 0;
    int32_t offset = 0;
    U16_NEXT(units, offset, count, codePoint);
    return offset == count ? codePoint : -1;
}

// The bytes that encode `codePoint`, empty when the code page has no exact mapping for it.
std::string EncodeOne(UConverter* converter, UChar32 codePoint) {
    UChar units[2];
    int32_t unitCount = 0;
    UBool failed = false;
    U16_APPEND(units, unitCount, 2, codePoint, failed);
    if (failed)
        return {};
    char bytes[8];
    UErrorCode error = U_ZERO_ERROR;
    const int32_t count = ucnv_fromUChars(converter, bytes, sizeof bytes, units, unitCount, &error);
    if (U_FAILURE(error) || error == U_STRING_NOT_TERMINATED_WARNING || count <= 0)
        return {};
    return std::string(bytes, static_cast<std::size_t>(count));
}

struct LeadByteRange {
    unsigned char first;
    unsigned char last;
};

// Lead-byte ranges of the double-byte code pages, as the code pages define them.
std::vector<LeadByteRange> LeadByteRanges(win::UINT codePage) {
    switch (codePage) {
    case 932:
        return {{0x81, 0x9F}, {0xE0, 0xFC}};
    case 936:
    case 949:
    case 950:
        return {{0x81, 0xFE}};
    default:
        return {};
    }
}

void FillAsciiOnly(CodePageData& data) {
    for (int b = 0; b < 256; ++b) {
        const bool ascii = b < 0x80;
        data.lower[b] = static_cast<unsigned char>(AsciiFold(static_cast<char>(b)));
        data.display[b] = ascii ? static_cast<char16_t>(b) : u'\uFFFD';
        data.collation[b] =
            ascii ? static_cast<char16_t>(b) : static_cast<char16_t>(kUndefinedByteBase + b);
    }
}

void FillSingleBytes(UConverter* converter, CodePageData& data) {
    for (int b = 0; b < 256; ++b) {
        data.lower[b] = static_cast<unsigned char>(b);
        const char byte = static_cast<char>(b);
        const UChar32 codePoint = data.leadByte[b] ? -1 : DecodeOne(converter, &byte, 1);
        if (codePoint < 0 || codePoint > 0xFFFF) {
            data.display[b] = u'\uFFFD';
            data.collation[b] = static_cast<char16_t>(kUndefinedByteBase + b);
            continue;
        }
        data.display[b] = static_cast<char16_t>(codePoint);
        data.collation[b] = static_cast<char16_t>(codePoint);
        const UChar32 lower = u_tolower(codePoint);
        if (lower == codePoint)
            continue;
        const std::string encoded = EncodeOne(converter, lower);
        if (encoded.size() == 1)
            data.lower[b] = static_cast<unsigned char>(encoded[0]);
    }
}

void FillPairs(UConverter* converter, CodePageData& data) {
    data.pairLower.assign(0x10000, 0);
    for (int lead = 0; lead < 256; ++lead) {
        if (!data.leadByte[lead])
            continue;
        for (int trail = 1; trail < 256; ++trail) {
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            const UChar32 codePoint = DecodeOne(converter, pair, 2);
            if (codePoint < 0)
                continue;
            const UChar32 lower = u_tolower(codePoint);
            if (lower == codePoint)
                continue;
            const std::string encoded = EncodeOne(converter, lower);
            if (encoded.size() != 2 || !data.leadByte[static_cast<unsigned char>(encoded[0])])
                continue;
            data.pairLower[static_cast<std::size_t>(lead << 8 | trail)] =
                static_cast<std::uint16_t>(static_cast<unsigned char>(encoded[0]) << 8 |
                                           static_cast<unsigned char>(encoded[1]));
        }
    }
}

std::unique_ptr<CodePageData> BuildCodePageData(win::UINT codePage) {
    auto data = std::make_unique<CodePageData>();
    data->codePage = codePage;
    for (const LeadByteRange& range : LeadByteRanges(codePage))
        for (int b = range.first; b <= range.last; ++b)
            data->leadByte[b] = true;
    data->doubleByte = !LeadByteRanges(codePage).empty();
    const ConverterPtr converter = OpenStrictConverter(codePage);
    if (!converter) {
        data->leadByte.fill(false);
        data->doubleByte = false;
        FillAsciiOnly(*data);
        return data;
    }
    FillSingleBytes(converter.get(), *data);
    if (data->doubleByte)
        FillPairs(converter.get(), *data);
    return data;
}

} // namespace

LocaleName ParseLocaleName(std::string_view name) {
    LocaleName result;
    const std::size_t at = name.find('@');
    if (at != std::string_view::npos) {
        result.modifier = AsciiLowerCase(name.substr(at + 1));
        name = name.substr(0, at);
    }
    const std::size_t dot = name.find('.');
    if (dot != std::string_view::npos)
        name = name.substr(0, dot);
    const std::size_t underscore = name.find('_');
    if (underscore != std::string_view::npos) {
        result.territory = Uppered(name.substr(underscore + 1));
        name = name.substr(0, underscore);
    }
    result.language = AsciiLowerCase(name);
    return result;
}

std::string ProcessLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return {};
}

win::UINT AnsiCodePageFor(const LocaleName& locale) {
    const std::string& language = locale.language;
    if (language == "zh")
        return IsTraditionalChineseTerritory(locale.territory) ? 950 : 936;
    if (language == "sr")
        return IsLatinModifier(locale.modifier) ? 1250 : 1251;
    if (language == "az" || language == "uz")
        return IsCyrillicModifier(locale.modifier) ? 1251 : 1254;
    for (const LanguageCodePage& entry : kLanguageCodePages)
        if (language == entry.language)
            return entry.codePage;
    return 1252;
}

std::string CollationLocaleFor(const LocaleName& locale) {
    if (!IsPlainLanguageCode(locale.language))
        return {};
    std::string id = locale.language;
    const std::string script = ScriptSubtag(locale);
    if (!script.empty())
        id += "_" + script;
    if (!locale.territory.empty())
        id += "_" + locale.territory;
    return id;
}

std::string DefaultCollationLocaleFor(win::UINT codePage) {
    switch (codePage) {
    case 874:
        return "th";
    case 932:
        return "ja";
    case 936:
        return "zh_CN";
    case 949:
        return "ko";
    case 950:
        return "zh_TW";
    case 1250:
        return "pl";
    case 1251:
        return "ru";
    case 1253:
        return "el";
    case 1254:
        return "tr";
    case 1255:
        return "he";
    case 1256:
        return "ar";
    case 1257:
        return "lt";
    case 1258:
        return "vi";
    default:
        return {};
    }
}

std::string IcuConverterName(win::UINT codePage) {
    switch (codePage) {
    case 874:
        return "windows-874-2000";
    case 932:
        return "ibm-943_P15A-2003";
    case 936:
        return "windows-936-2000";
    case 949:
        return "windows-949-2000";
    case 950:
        return "windows-950-2000";
    default:
        return "cp" + std::to_string(codePage);
    }
}

const CodePageData& CodePageDataFor(win::UINT codePage) {
    // Never destroyed: lower-casing may still run while other static objects are torn down.
    static auto* const mutex = new std::mutex;
    static auto* const built = new std::map<win::UINT, std::unique_ptr<CodePageData>>;
    const std::lock_guard lock(*mutex);
    std::unique_ptr<CodePageData>& slot = (*built)[codePage];
    if (!slot)
        slot = BuildCodePageData(codePage);
    return *slot;
}

} // namespace platform::codepage
