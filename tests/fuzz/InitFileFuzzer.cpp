// Fuzz target for the init-file reader: any bytes as the file's content.
// Besides the sanitizers' checks it compares what the reader gives and
// tells with a plain model of the format, worked out from the raw bytes:
// the options, every piece with its line, cut flag and fate, and where the
// start reads the file otherwise than it is written.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "JvmOptions.h"

namespace {

const size_t kPieceBytes = 511;  // what fgets hands out of a 512-byte buffer

bool IsWhitespace(char byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r';
}

struct Piece {
    int line;
    int piece;
    bool cut;
    bool textGoesOn;
    bool byteOrderMark;
    InitPieceFate fate;
    std::string text;  // empty for a UTF-16 line, whose text is not modelled
};

struct Reading {
    std::vector<std::string> options;
    std::vector<Piece> pieces;
    InitFileMisreadings misreadings;
};

bool IsUtf16(const std::string& file) {
    if (file.size() < 2) return false;
    unsigned char first = static_cast<unsigned char>(file[0]), second = static_cast<unsigned char>(file[1]);
    return (first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF) || second == 0;
}

// A UTF-16 file gives no option; its lines end after each unit 0x000A.
void ModelUtf16(const std::string& file, Reading* reading) {
    unsigned char first = static_cast<unsigned char>(file[0]), second = static_cast<unsigned char>(file[1]);
    bool marked = (first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF);
    bool bigEndian = first == 0xFE && second == 0xFF;
    size_t units = (file.size() - (marked ? 2 : 0)) / 2;
    const char* at = file.data() + (marked ? 2 : 0);
    int lines = 0;
    bool lineBegun = false;
    for (size_t i = 0; i < units; ++i) {
        lineBegun = true;
        bool lineFeed = bigEndian ? at[2 * i] == 0 && at[2 * i + 1] == '\n' : at[2 * i] == '\n' && at[2 * i + 1] == 0;
        if (!lineFeed) continue;
        reading->pieces.push_back({++lines, 1, false, false, false, PieceOfUtf16File, ""});
        lineBegun = false;
    }
    if (lineBegun) reading->pieces.push_back({++lines, 1, false, false, false, PieceOfUtf16File, ""});
    reading->misreadings.utf16 = true;
    reading->misreadings.utf16Lines = lines;
}

// An ANSI file: lines end after a line feed; each line is cut into pieces
// of 511 bytes, every one but the last of its line cut; a NUL ends a
// piece's text; a piece whose text starts with "-" is an option, with its
// trailing whitespace removed, never past the "-".
void ModelAnsi(const std::string& file, int capacity, Reading* reading) {
    InitFileMisreadings& m = reading->misreadings;
    int lineNumber = 0;
    for (size_t lineStart = 0; lineStart < file.size();) {
        size_t lineFeed = file.find('\n', lineStart);
        size_t lineEnd = lineFeed == std::string::npos ? file.size() : lineFeed + 1;
        ++lineNumber;
        bool lineCounted = false;
        for (size_t at = lineStart, pieceNumber = 1; at < lineEnd; at += kPieceBytes, ++pieceNumber) {
            std::string bytes = file.substr(at, std::min(kPieceBytes, lineEnd - at));
            Piece piece = {
                lineNumber,       static_cast<int>(pieceNumber),    at + bytes.size() < lineEnd, false, false,
                PieceNotAnOption, bytes.substr(0, bytes.find('\0'))};
            if (piece.cut && pieceNumber == 1 && piece.text.size() == bytes.size()) {
                std::string rest = file.substr(at + bytes.size(), lineEnd - at - bytes.size());
                rest = rest.substr(0, rest.find_first_of(std::string("\n\0", 2)));
                for (char byte : rest) piece.textGoesOn = piece.textGoesOn || !IsWhitespace(byte);
            }
            piece.byteOrderMark = lineNumber == 1 && pieceNumber == 1 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
            if (piece.byteOrderMark && bytes.size() > 3 && bytes[3] == '-') m.optionBehindByteOrderMark = true;
            if (!piece.text.empty() && piece.text[0] == '-') {
                if (static_cast<int>(reading->options.size()) < capacity) {
                    piece.fate = PieceBecameOption;
                    std::string option = piece.text;
                    while (option.size() > 1 && IsWhitespace(option.back())) option.pop_back();
                    reading->options.push_back(option);
                } else {
                    piece.fate = PiecePastLastOption;
                    if (m.optionsPastLast++ == 0) m.firstLinePastLast = lineNumber;
                }
            }
            if (piece.fate == PieceBecameOption && (pieceNumber > 1 || piece.textGoesOn) && !lineCounted) {
                if (m.cutLines < kMostCutLinesNamed) m.cutLineNumbers[m.cutLines] = lineNumber;
                ++m.cutLines;
                lineCounted = true;
            }
            reading->pieces.push_back(piece);
        }
        lineStart = lineEnd;
    }
}

Reading Model(const std::string& file, int capacity) {
    Reading reading;
    memset(&reading.misreadings, 0, sizeof reading.misreadings);
    if (IsUtf16(file))
        ModelUtf16(file, &reading);
    else
        ModelAnsi(file, capacity, &reading);
    return reading;
}

FILE* OpenAsFile(const uint8_t* data, size_t size) {
    // fmemopen refuses an empty buffer; an empty file reads the same.
    if (size == 0) return fopen("/dev/null", "rb");
    return fmemopen(const_cast<uint8_t*>(data), size, "rb");
}

void See(const InitFilePiece& seen, void* context) {
    Piece piece = {seen.line,
                   seen.piece,
                   seen.cut,
                   seen.textGoesOn,
                   seen.byteOrderMark,
                   seen.fate,
                   seen.fate == PieceOfUtf16File ? "" : seen.text};
    static_cast<std::vector<Piece>*>(context)->push_back(piece);
}

// Reads the bytes as the start does (observer null) or as check does.
Reading Read(const uint8_t* data, size_t size, bool observed) {
    FILE* file = OpenAsFile(data, size);
    if (file == nullptr) abort();
    Reading reading;
    InitFileObserver observer = {See, &reading.pieces};
    // Exactly MaxInitFileOptions places on the heap: a store past them is
    // caught by AddressSanitizer.
    char** options = static_cast<char**>(malloc(MaxInitFileOptions * sizeof(char*)));
    memset(&reading.misreadings, 0xAB, sizeof reading.misreadings);
    int count =
        ReadInitFileOptions(file, options, MaxInitFileOptions, observed ? &observer : nullptr, &reading.misreadings);
    fclose(file);
    for (int i = 0; i < count; ++i) {
        reading.options.emplace_back(options[i]);
        free(options[i]);
    }
    free(options);
    return reading;
}

bool SameMisreadings(const InitFileMisreadings& a, const InitFileMisreadings& b) {
    bool same = a.utf16 == b.utf16 && a.utf16Lines == b.utf16Lines &&
                a.optionBehindByteOrderMark == b.optionBehindByteOrderMark && a.optionsPastLast == b.optionsPastLast &&
                a.cutLines == b.cutLines && (a.optionsPastLast == 0 || a.firstLinePastLast == b.firstLinePastLast);
    for (int i = 0; same && i < a.cutLines && i < kMostCutLinesNamed; ++i)
        same = a.cutLineNumbers[i] == b.cutLineNumbers[i];
    return same;
}

void Fail(const char* what, size_t index) {
    fprintf(stderr, "%s differ from the model (at %zu)\n", what, index);
    abort();
}

void Compare(const Reading& read, const Reading& model, bool piecesToo) {
    if (read.options != model.options) Fail("the options", read.options.size());
    if (!SameMisreadings(read.misreadings, model.misreadings)) Fail("the misreadings", 0);
    if (!piecesToo) return;
    if (read.pieces.size() != model.pieces.size()) Fail("the number of pieces", read.pieces.size());
    for (size_t i = 0; i < model.pieces.size(); ++i) {
        const Piece& a = read.pieces[i];
        const Piece& b = model.pieces[i];
        if (a.line != b.line || a.piece != b.piece || a.cut != b.cut || a.textGoesOn != b.textGoesOn ||
            a.byteOrderMark != b.byteOrderMark || a.fate != b.fate || a.text != b.text)
            Fail("the pieces", i);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reading model = Model(std::string(reinterpret_cast<const char*>(data), size), MaxInitFileOptions);
    Compare(Read(data, size, false), model, false);
    Compare(Read(data, size, true), model, true);
    return 0;
}
