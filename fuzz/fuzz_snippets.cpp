// Decodes arbitrary bytes as a stored snippet list. Whatever decodes must encode
// to bytes that decode to the same list, and encoding must be stable.
#include "model/Snippet.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<SnippetList> decoded = decodeSnippets(bytes);
    if (!decoded)
        return 0;
    const QByteArray encoded = encodeSnippets(*decoded);
    const std::optional<SnippetList> again = decodeSnippets(encoded);
    if (!again || encodeSnippets(*again) != encoded) {
        std::fprintf(stderr, "property violated: encoding does not round-trip\n");
        std::abort();
    }
    // Texts with lone surrogates cannot survive UTF-8; everything else must come back equal.
    bool wellFormed = true;
    for (const Snippet &snippet : *decoded)
        wellFormed &= QString::fromUtf8(snippet.text.toUtf8()) == snippet.text;
    if (wellFormed && *again != *decoded) {
        std::fprintf(stderr, "property violated: a decoded list changed in a round trip\n");
        std::abort();
    }
    return 0;
}
