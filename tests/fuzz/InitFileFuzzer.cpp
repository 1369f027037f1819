// Fuzz target for the init-file reader: any bytes as the file's content.
// Besides the sanitizers' checks it compares the options read with a plain
// model of the format, so a wrong piece boundary or trim is found as well.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "JvmOptions.h"

namespace {

const size_t kPieceBytes = 511;  // what fgets hands out of a 512-byte buffer

bool IsTrailingWhitespace(char byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r';
}

// The options the file should give: pieces end after a line feed or after
// 511 bytes; a NUL ends a piece's text; a piece starting with "-" is an
// option with its trailing whitespace removed, never past the "-".
std::vector<std::string> ExpectedOptions(const uint8_t* data, size_t size, int capacity) {
    std::vector<std::string> options;
    size_t at = 0;
    while (at < size && static_cast<int>(options.size()) < capacity) {
        size_t end = at;
        while (end < size && end - at < kPieceBytes && data[end++] != '\n') {
        }
        std::string piece(reinterpret_cast<const char*>(data + at), end - at);
        piece.resize(strlen(piece.c_str()));
        if (!piece.empty() && piece[0] == '-') {
            while (piece.size() > 1 && IsTrailingWhitespace(piece.back())) piece.pop_back();
            options.push_back(piece);
        }
        at = end;
    }
    return options;
}

FILE* OpenAsFile(const uint8_t* data, size_t size) {
    // fmemopen refuses an empty buffer; an empty file reads the same.
    if (size == 0) return fopen("/dev/null", "rb");
    return fmemopen(const_cast<uint8_t*>(data), size, "rb");
}

// What an observer of the reader is told must agree with what it read:
// the same options, pieces of at most 511 bytes, lines in order.
struct Observed {
    int options = 0;
    int lastLine = 0;
    int lastPiece = 0;
    bool lastCut = false;
    bool wrong = false;
};

void See(const InitFilePiece& piece, void* context) {
    auto* observed = static_cast<Observed*>(context);
    if (piece.fate == PieceBecameOption) ++observed->options;
    bool next = observed->lastCut ? piece.line == observed->lastLine && piece.piece == observed->lastPiece + 1
                                  : piece.line == observed->lastLine + 1 && piece.piece == 1;
    if (!next || strlen(piece.text) > kPieceBytes || (piece.byteOrderMark && piece.line != 1)) observed->wrong = true;
    observed->lastLine = piece.line;
    observed->lastPiece = piece.piece;
    observed->lastCut = piece.cut;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = OpenAsFile(data, size);
    if (file == nullptr) abort();
    // Exactly MaxInitFileOptions places on the heap: a store past them is
    // caught by AddressSanitizer.
    char** options = static_cast<char**>(malloc(MaxInitFileOptions * sizeof(char*)));
    int count = ReadInitFileOptions(file, options, MaxInitFileOptions);
    fclose(file);

    std::vector<std::string> expected = ExpectedOptions(data, size, MaxInitFileOptions);
    if (count != static_cast<int>(expected.size())) {
        fprintf(stderr, "read %d options, expected %zu\n", count, expected.size());
        abort();
    }
    for (int i = 0; i < count; ++i) {
        if (expected[static_cast<size_t>(i)] != options[i]) {
            fprintf(stderr, "option %d is \"%s\", expected \"%s\"\n", i, options[i],
                    expected[static_cast<size_t>(i)].c_str());
            abort();
        }
    }

    // Once more with an observer, which reads the file to its end.
    file = OpenAsFile(data, size);
    if (file == nullptr) abort();
    Observed observed;
    InitFileObserver observer = {See, &observed};
    char** again = static_cast<char**>(malloc(MaxInitFileOptions * sizeof(char*)));
    int countAgain = ReadInitFileOptions(file, again, MaxInitFileOptions, &observer);
    fclose(file);
    if (countAgain != count || observed.options != count || observed.wrong || observed.lastCut) {
        fprintf(stderr, "the observer was told %d options (read %d, then %d)%s\n", observed.options, count, countAgain,
                observed.wrong || observed.lastCut ? ", pieces out of order" : "");
        abort();
    }
    for (int i = 0; i < count; ++i) {
        if (strcmp(options[i], again[i]) != 0) abort();
        free(options[i]);
        free(again[i]);
    }
    free(again);
    free(options);
    return 0;
}
