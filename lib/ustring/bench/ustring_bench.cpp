// Throughput of ustring's find, append and normalize against std::string and
// plain ICU calls on the same 64 KiB of mixed ASCII and accented text.
#include "ustring.h"

#include <benchmark/benchmark.h>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const size_t kTextBytes = 64 * 1024;
const char* const kNeedle = "Z\xc3\xbcrich-end";

// Words with composed accents; the needle is appended once at the end.
const std::string& text_nfc()
{
    static const std::string text = [] {
        const char* words[] = { "Am\xc3\xa9lie ", "caf\xc3\xa9 ", "path/to/file ", "na\xc3\xafve ",
                                "r\xc3\xa9sum\xc3\xa9 ", "plain ", "\xc3\x85ngstr\xc3\xb6m ", "data " };
        std::string t;
        for (size_t i = 0; t.size() < kTextBytes - 32; ++i)
            t += words[i % 8];
        t += kNeedle;
        return t;
    }();
    return text;
}

const std::string& text_nfd()
{
    static const std::string text = std::string(
        ustring::normalize(ustring(text_nfc()), ustring::NFD).c_str());
    return text;
}

std::u16string to_utf16(const std::string& s)
{
    std::u16string out(s.size() + 1, u'\0');
    int32_t len = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &len, s.c_str(),
                  static_cast<int32_t>(s.size()), &status);
    out.resize(U_SUCCESS(status) ? static_cast<size_t>(len) : 0);
    return out;
}

// 64-byte pieces of the text, cut on character boundaries.
std::vector<std::string> chunks_of(const std::string& s)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < s.size()) {
        size_t end = pos + 64 < s.size() ? pos + 64 : s.size();
        while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80)
            ++end;
        out.push_back(s.substr(pos, end - pos));
        pos = end;
    }
    return out;
}

// ------------------------------------------------------------------ find

void BM_Find_ustring(benchmark::State& state)
{
    const ustring text(text_nfc());
    for (auto _ : state)
        benchmark::DoNotOptimize(text.find(kNeedle));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.length()));
}

void BM_Find_std_string(benchmark::State& state)
{
    const std::string& text = text_nfc();
    for (auto _ : state)
        benchmark::DoNotOptimize(text.find(kNeedle));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_Find_icu_utf16(benchmark::State& state)
{
    const std::u16string text = to_utf16(text_nfc());
    const std::u16string needle = to_utf16(kNeedle);
    for (auto _ : state)
        benchmark::DoNotOptimize(u_strFindFirst(text.c_str(), -1, needle.c_str(), -1));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text_nfc().size()));
}

// ---------------------------------------------------------------- append

void BM_Append_ustring(benchmark::State& state)
{
    const std::vector<std::string> chunks = chunks_of(text_nfc());
    for (auto _ : state) {
        ustring s;
        for (const std::string& c : chunks)
            s.append(c.c_str());
        benchmark::DoNotOptimize(s.c_str());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text_nfc().size()));
}

void BM_Append_std_string(benchmark::State& state)
{
    const std::vector<std::string> chunks = chunks_of(text_nfc());
    for (auto _ : state) {
        std::string s;
        for (const std::string& c : chunks)
            s.append(c);
        benchmark::DoNotOptimize(s.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text_nfc().size()));
}

void BM_Append_icu_unicodestring(benchmark::State& state)
{
    std::vector<std::u16string> chunks;
    for (const std::string& c : chunks_of(text_nfc()))
        chunks.push_back(to_utf16(c));
    for (auto _ : state) {
        icu::UnicodeString s;
        for (const std::u16string& c : chunks)
            s.append(c.c_str(), static_cast<int32_t>(c.size()));
        benchmark::DoNotOptimize(s.getBuffer());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text_nfc().size()));
}

// The UTF-16 path rebuilds the whole UTF-8 text after every append.
void BM_Append_ustring_utf16(benchmark::State& state)
{
    std::vector<std::u16string> chunks;
    for (const std::string& c : chunks_of(text_nfc()))
        chunks.push_back(to_utf16(c));
    for (auto _ : state) {
        ustring s;
        for (const std::u16string& c : chunks)
            s.append(reinterpret_cast<const unsigned short*>(c.c_str()));
        benchmark::DoNotOptimize(s.c_str());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text_nfc().size()));
}

// ------------------------------------------------------------- normalize

void normalize_ustring(benchmark::State& state, const std::string& source, ustring::normalization_form form)
{
    const ustring text(source);
    for (auto _ : state) {
        ustring r = text.normalize(form);
        benchmark::DoNotOptimize(r.c_str());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

// The same three steps as ustring (to UTF-16, normalise, to UTF-8) on
// buffers allocated once.
void normalize_icu_c(benchmark::State& state, const std::string& source, UNormalization2Mode mode)
{
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* norm = unorm2_getInstance(nullptr, "nfc", mode, &status);
    if (U_FAILURE(status)) {
        state.SkipWithError("unorm2_getInstance failed");
        return;
    }
    std::vector<UChar> in(source.size() * 3 + 1);
    std::vector<UChar> out(source.size() * 3 + 1);
    std::vector<char> bytes(source.size() * 3 + 1);
    for (auto _ : state) {
        status = U_ZERO_ERROR;
        int32_t inLen = 0;
        u_strFromUTF8(in.data(), static_cast<int32_t>(in.size()), &inLen, source.c_str(), -1, &status);
        int32_t outLen = unorm2_normalize(norm, in.data(), inLen, out.data(), static_cast<int32_t>(out.size()), &status);
        int32_t byteLen = 0;
        u_strToUTF8(bytes.data(), static_cast<int32_t>(bytes.size()), &byteLen, out.data(), outLen, &status);
        benchmark::DoNotOptimize(byteLen);
    }
    if (U_FAILURE(status))
        state.SkipWithError("ICU normalisation failed");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

// ICU's own UTF-8 entry point, without the UTF-16 round trip.
void normalize_icu_utf8(benchmark::State& state, const std::string& source, bool compose)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* norm = compose ? icu::Normalizer2::getNFCInstance(status)
                                           : icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) {
        state.SkipWithError("Normalizer2 instance failed");
        return;
    }
    for (auto _ : state) {
        std::string out;
        icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(source.size()));
        norm->normalizeUTF8(0, source, sink, nullptr, status);
        benchmark::DoNotOptimize(out.data());
    }
    if (U_FAILURE(status))
        state.SkipWithError("normalizeUTF8 failed");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()));
}

void BM_NormalizeNFD_ustring(benchmark::State& state) { normalize_ustring(state, text_nfc(), ustring::NFD); }
void BM_NormalizeNFD_icu_c(benchmark::State& state) { normalize_icu_c(state, text_nfc(), UNORM2_DECOMPOSE); }
void BM_NormalizeNFD_icu_utf8(benchmark::State& state) { normalize_icu_utf8(state, text_nfc(), false); }
void BM_NormalizeNFC_ustring(benchmark::State& state) { normalize_ustring(state, text_nfd(), ustring::NFC); }
void BM_NormalizeNFC_icu_c(benchmark::State& state) { normalize_icu_c(state, text_nfd(), UNORM2_COMPOSE); }
void BM_NormalizeNFC_icu_utf8(benchmark::State& state) { normalize_icu_utf8(state, text_nfd(), true); }

} // namespace

BENCHMARK(BM_Find_ustring);
BENCHMARK(BM_Find_std_string);
BENCHMARK(BM_Find_icu_utf16);
BENCHMARK(BM_Append_ustring);
BENCHMARK(BM_Append_std_string);
BENCHMARK(BM_Append_icu_unicodestring);
BENCHMARK(BM_Append_ustring_utf16);
BENCHMARK(BM_NormalizeNFD_ustring);
BENCHMARK(BM_NormalizeNFD_icu_c);
BENCHMARK(BM_NormalizeNFD_icu_utf8);
BENCHMARK(BM_NormalizeNFC_ustring);
BENCHMARK(BM_NormalizeNFC_icu_c);
BENCHMARK(BM_NormalizeNFC_icu_utf8);

BENCHMARK_MAIN();
