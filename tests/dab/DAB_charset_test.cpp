// SPDX-License-Identifier: GPL-3.0-or-later
// Labels and broadcast text decoded from the character sets a broadcast uses,
// and written for terminals that can and cannot show them.
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "DABUtils.h"

namespace {

struct RepertoireRow {
    char32_t code_point;
    std::string name;
};

// The repertoire as data: byte, code point, name.
std::map<int, RepertoireRow> read_repertoire(const std::string &path) {
    std::map<int, RepertoireRow> rows;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("0x", 0) != 0) {
            continue;
        }
        std::istringstream fields(line);
        std::string byte, code_point, name;
        std::getline(fields, byte, '\t');
        std::getline(fields, code_point, '\t');
        std::getline(fields, name);
        rows[std::stoi(byte, nullptr, 16)] = {
            static_cast<char32_t>(std::stoul(code_point.substr(2), nullptr, 16)), name};
    }
    return rows;
}

const std::string kRepertoire = std::string(TUNELARK_SOURCE_DIR) + "/tests/dab/data/ebu-latin.tsv";

std::u32string label(const std::string &bytes, uint8_t charset) {
    char field[DAB_LABEL_BYTES] = {};
    std::memcpy(field, bytes.data(), std::min<std::size_t>(bytes.size(), DAB_LABEL_BYTES));
    char32_t chars[DAB_LABEL_CHARS];
    const uint8_t count = DAB_decode_label(field, charset, chars);
    return std::u32string(chars, count);
}

std::string padded(std::string text) {
    text.resize(DAB_LABEL_BYTES, ' ');
    return text;
}

std::u32string text(const std::string &bytes, uint16_t capacity = 4096) {
    std::u32string chars(capacity, U'\0');
    const uint16_t count =
        DAB_decode_text(bytes.c_str(), static_cast<uint16_t>(bytes.size()), chars.data(), capacity);
    chars.resize(count);
    return chars;
}

std::string spelling(char32_t c) {
    char out[DAB_ASCII_SPELLING_SIZE];
    const uint8_t length = DAB_ascii_spelling(c, out);
    EXPECT_EQ(out[length], '\0');
    return std::string(out, length);
}

struct Written {
    std::string text;
    int columns;
};

Written terminal(const std::u32string &chars, int max_columns, bool ascii_only = false,
                 uint16_t size = 256) {
    std::string out(size, '#');
    const int columns = DAB_terminal_text(chars.data(), static_cast<uint16_t>(chars.size()),
                                          max_columns, ascii_only, out.data(), size);
    out.resize(std::strlen(out.c_str()));
    return {out, columns};
}

// The process's locale for the length of one test.
class Locale {
public:
    explicit Locale(const char *name) : saved_(std::setlocale(LC_ALL, nullptr)) {
        ok_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~Locale() { std::setlocale(LC_ALL, saved_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_ = false;
};

TEST(EbuLatin, EveryByteIsTheRepertoiresCodePoint) {
    const auto rows = read_repertoire(kRepertoire);
    ASSERT_EQ(rows.size(), 255u) << kRepertoire;
    EXPECT_EQ(DAB_EBU_Latin[0], 0) << "0x00 ends a text and pads a label";
    for (const auto &[byte, row] : rows) {
        EXPECT_EQ(static_cast<char32_t>(DAB_EBU_Latin[static_cast<std::size_t>(byte)]),
                  row.code_point)
            << "byte 0x" << std::hex << byte << " " << row.name;
    }
}

TEST(EbuLatin, OurCopyOfTheRepertoireIsTheSharedOne) {
    const std::filesystem::path shared =
        std::filesystem::path(TUNELARK_SOURCE_DIR) / ".." / "shared" / "ebu-latin.tsv";
    if (!std::filesystem::exists(shared)) {
        GTEST_SKIP() << "no shared repertoire beside this checkout";
    }
    std::ifstream a(kRepertoire), b(shared);
    std::stringstream left, right;
    left << a.rdbuf();
    right << b.rdbuf();
    EXPECT_EQ(left.str(), right.str());
}

TEST(EbuLatin, EveryPrintingByteAloneDecodesToItsCharacter) {
    const auto rows = read_repertoire(kRepertoire);
    for (const auto &[byte, row] : rows) {
        if (byte == 0x0A || byte == 0x0B || byte == 0x1F || byte == 0x20) {
            continue;
        }
        EXPECT_EQ(label(std::string(1, static_cast<char>(byte)), DAB_CHARSET_EBU_LATIN),
                  std::u32string(1, row.code_point))
            << "byte 0x" << std::hex << byte;
    }
}

TEST(LabelDecode, EbuLatinAccentsOfSeveralLanguages) {
    EXPECT_EQ(label(padded("\xD7"
                           "1 Klassik"),
                    0),
              U"Ö1 Klassik");
    EXPECT_EQ(label(padded("\x5E\x86"
                           "d\xFD Jazz"),
                    0),
              U"Łódź Jazz");
    EXPECT_EQ(label(padded("Caf\x82 M\x99nchen"), 0), U"Café München");
    EXPECT_EQ(label(padded("\xCB"
                           "esk\xF5 \xEA"
                           "adio"),
                    0),
              U"Český Ŕadio");
    // Bytes where ASCII has other signs: $ is 0xAB, 0x24 is ł.
    EXPECT_EQ(label(padded("\xAB\x24\x5C\x7E"), 0), U"$łŮĽ");
}

TEST(LabelDecode, PaddingAndTrailingBlanksAreNotPartOfTheName) {
    EXPECT_EQ(label(padded("Harbour FM"), 0), U"Harbour FM");
    EXPECT_EQ(label(std::string("Harbour FM\0\0\0\0\0\0", 16), 0), U"Harbour FM");
    EXPECT_EQ(label(std::string("Ab\0cd", 5), 0), U"Ab") << "a zero byte ends the name";
    EXPECT_EQ(label(std::string("\0Night Owl Radio", 16), 0), U"");
    EXPECT_EQ(label(padded(""), 0), U"");
    EXPECT_EQ(label(padded("  Lantern Talk"), 0), U"  Lantern Talk") << "leading blanks stay";
    EXPECT_EQ(label("Hill Country Hit", 0), U"Hill Country Hit");
}

TEST(LabelDecode, ControlsReadAsOnTheTextRow) {
    EXPECT_EQ(label(padded("A\x0A"
                           "B\x0B"
                           "C"),
                    0),
              U"A B C");
    EXPECT_EQ(label(padded("Rock\x1F"
                           "Radio"),
                    0),
              U"RockRadio");
    EXPECT_EQ(label(padded("Rock\x0A"), 0), U"Rock") << "a trailing line break is a blank";
}

TEST(LabelDecode, OtherCharsetValuesReadAsEbuLatin) {
    for (uint8_t charset : {1, 2, 4, 5, 7, 14, 16, 63, 255}) {
        EXPECT_EQ(label(padded("K\x97ln"), charset), U"Köln") << int(charset);
    }
}

TEST(LabelDecode, Utf8) {
    EXPECT_EQ(label(padded("Malm\xC3\xB6 V\xC3\xA4st FM"), DAB_CHARSET_UTF8), U"Malmö Väst FM");
    EXPECT_EQ(label(padded("\xE2\x82\xAC \xF0\x9F\x8E\xB5"), DAB_CHARSET_UTF8), U"€ 🎵");
    EXPECT_EQ(
        label("\xC3\x96\xC3\x96\xC3\x96\xC3\x96\xC3\x96\xC3\x96\xC3\x96\xC3\x96", DAB_CHARSET_UTF8),
        U"ÖÖÖÖÖÖÖÖ")
        << "16 bytes of 2-byte characters";
}

TEST(LabelDecode, Utf8CharacterCutByTheFieldIsDropped) {
    EXPECT_EQ(label("Fifteen bytes..\xC3", DAB_CHARSET_UTF8), U"Fifteen bytes..");
    EXPECT_EQ(label("Fourteen bytes\xE2\x82", DAB_CHARSET_UTF8), U"Fourteen bytes");
    EXPECT_EQ(label("Thirteen byte\xF0\x9F\x8E", DAB_CHARSET_UTF8), U"Thirteen byte");
    EXPECT_EQ(label(std::string("ab\xC3\0\0", 5), DAB_CHARSET_UTF8), U"ab")
        << "cut by the zero padding";
}

TEST(LabelDecode, Utf8InvalidSequencesBecomeReplacementCharacters) {
    const char32_t r = DAB_REPLACEMENT_CHARACTER;
    EXPECT_EQ(label(padded("a\x80z"), DAB_CHARSET_UTF8), (std::u32string{U'a', r, U'z'}));
    EXPECT_EQ(label(padded("\xC0\xAF"), DAB_CHARSET_UTF8), (std::u32string{r, r}))
        << "overlong form";
    EXPECT_EQ(label(padded("\xED\xA0\x80"), DAB_CHARSET_UTF8), (std::u32string{r, r, r}))
        << "surrogate";
    EXPECT_EQ(label(padded("\xF4\x90\x80\x80"), DAB_CHARSET_UTF8), (std::u32string{r, r, r, r}))
        << "beyond U+10FFFF";
    EXPECT_EQ(label(padded("\xE2\x28\xA1"), DAB_CHARSET_UTF8), (std::u32string{r, U'(', r}))
        << "a broken sequence does not swallow the byte that broke it";
    EXPECT_EQ(label(padded("\xFF\xFE"), DAB_CHARSET_UTF8), (std::u32string{r, r}));
    EXPECT_EQ(label(std::string(16, '\x80'), DAB_CHARSET_UTF8), std::u32string(16, r));
}

TEST(LabelDecode, Ucs2BigEndian) {
    EXPECT_EQ(label(std::string("\0\xD6\0"
                                "1\0 \0K\0l\0a\0s\0s",
                                16),
                    DAB_CHARSET_UCS2),
              U"Ö1 Klass")
        << "eight characters in sixteen bytes";
    EXPECT_EQ(label(std::string("\x01\x41\0\xF3\0d\x01\x7A\0\0\0\0\0\0\0\0", 16), DAB_CHARSET_UCS2),
              U"Łódź");
    EXPECT_EQ(label(std::string("\0A\xD8\x00\0B\0 \0 \0 \0 \0 ", 16), DAB_CHARSET_UCS2),
              (std::u32string{U'A', DAB_REPLACEMENT_CHARACTER, U'B'}))
        << "a lone surrogate; trailing blanks dropped";
    EXPECT_EQ(label(std::string("\0A\0\0\0B", 6), DAB_CHARSET_UCS2), U"A");
    EXPECT_EQ(label(std::string("\x4E\x2D\x65\x87", 4), DAB_CHARSET_UCS2), U"中文");
}

TEST(TextDecode, EbuLatinWithItsControls) {
    EXPECT_EQ(text("Gr\x99\x8D"
                   "e aus K\x97ln"),
              U"Grüße aus Köln");
    EXPECT_EQ(text("Headline\x0B"
                   "Line one\x0A"
                   "two"),
              U"Headline Line one two");
    EXPECT_EQ(text("Donau\x1F"
                   "dampf\x1F"
                   "schiff"),
              U"Donaudampfschiff");
    EXPECT_EQ(text(std::string("ab\0cd", 5)), U"ab");
    EXPECT_EQ(text("abcdef", 3), U"abc") << "at most the capacity";
    const std::string bytes = "abcdef";
    char32_t chars[8];
    EXPECT_EQ(DAB_decode_text(bytes.c_str(), 2, chars, 8), 2) << "at most the length";
}

TEST(AsciiSpelling, ClosestLettersOrAQuestionMark) {
    EXPECT_EQ(spelling(U'é'), "e");
    EXPECT_EQ(spelling(U'ß'), "ss");
    EXPECT_EQ(spelling(U'Ł'), "L");
    EXPECT_EQ(spelling(U'Æ'), "AE");
    EXPECT_EQ(spelling(U'œ'), "oe");
    EXPECT_EQ(spelling(U'Ț'), "T");
    EXPECT_EQ(spelling(U'€'), "EUR");
    EXPECT_EQ(spelling(U'A'), "A");
    EXPECT_EQ(spelling(U'~'), "~");
    EXPECT_EQ(spelling(U'中'), "?");
    EXPECT_EQ(spelling(DAB_REPLACEMENT_CHARACTER), "?");
    EXPECT_EQ(spelling(0x07), "?") << "a control code never reaches the terminal";
    EXPECT_EQ(spelling(0x7F), "?");
    EXPECT_EQ(spelling(0x10FFFF), "?");
}

TEST(AsciiSpelling, EveryLetterOfTheRepertoireSpellsAsLetters) {
    for (const auto &[byte, row] : read_repertoire(kRepertoire)) {
        if (row.name.find("LETTER") == std::string::npos) {
            continue;
        }
        const std::string s = spelling(row.code_point);
        ASSERT_FALSE(s.empty());
        for (char c : s) {
            EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
                << row.name << " spells as " << s;
        }
    }
}

TEST(TerminalText, AsciiLocaleSpellsEveryOtherCharacter) {
    Locale c("C");
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(terminal(U"Grüße aus Köln", 80).text, "Grusse aus Koln");
    EXPECT_EQ(terminal(U"Łódź Jazz", 80).columns, 9);
    EXPECT_EQ(terminal(U"Grüße", 5).text, "Gruss") << "cut by columns, spellings included";
    EXPECT_EQ(terminal(U"Grüße", 4).text, "Gru") << "a spelling is never split";
    EXPECT_EQ(terminal(U"a\u0007b\u009Bc", 80).text, "a?b?c") << "controls never pass";
}

TEST(TerminalText, Utf8LocaleShowsTheCharactersThemselves) {
    Locale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok()) << "the C.UTF-8 locale is part of every Debian system";
    const Written w = terminal(U"Grüße aus Köln", 80);
    EXPECT_EQ(w.text, "Gr\xC3\xBC\xC3\x9F"
                      "e aus K\xC3\xB6ln");
    EXPECT_EQ(w.columns, 14) << "columns, not bytes";
    EXPECT_EQ(terminal(U"Grüße", 3).text, "Gr\xC3\xBC");
    EXPECT_EQ(terminal(U"a中b", 3).text, "a\xE4\xB8\xAD");
    EXPECT_EQ(terminal(U"a中b", 2).text, "a") << "a wide character is never split";
    EXPECT_EQ(terminal(U"a中b", 2).columns, 1);
    EXPECT_EQ(terminal(U"a\u0007b", 80).text, "a?b");
    EXPECT_EQ(terminal(U"Grüße", 80, true).text, "Grusse") << "ASCII asked for";
}

TEST(TerminalText, NeverOverrunsTheBufferNorSplitsACharacter) {
    Locale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    // "ü" is two bytes: with 4 bytes of room (3 and the terminator) only one fits.
    EXPECT_EQ(terminal(U"üüü", 80, false, 4).text, "\xC3\xBC");
    EXPECT_EQ(terminal(U"üüü", 80, false, 1).text, "");
    EXPECT_EQ(terminal(U"€€", 80, true, 6).text, "EUR") << "spellings are not split either";
}

TEST(LabelForTerminal, NeverWiderThanAMenuEntry) {
    Locale c("C");
    char out[DAB_LABEL_TEXT_SIZE];
    // Sixteen Æ spell as 32 letters; the menu has room for 16 columns.
    const int columns = DAB_label_for_terminal(std::string(16, '\xE2').c_str(), 0, false, out);
    EXPECT_EQ(columns, 16);
    EXPECT_EQ(std::string(out), std::string("AEAEAEAEAEAEAEAE"));
    EXPECT_EQ(DAB_label_for_terminal((std::string("\0abc", 4) + std::string(12, ' ')).c_str(), 0,
                                     false, out),
              0);
    EXPECT_STREQ(out, "");
}

} // namespace
