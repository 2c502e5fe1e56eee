// Accumulation of phonebook data text and cutting of complete vCards. The
// module cuts the text into indications without regard to vCard or line
// boundaries, so the text is read one byte at a time and what does not yet
// form a complete vCard waits in a fixed buffer that the caller owns.
//
// Only the property lines that an entry is made from (N, FN, TEL and the call
// time stamp) are kept, so a vCard with a photo, a long note or an address
// still fits: the lines of other properties pass through without being
// stored. Kept lines are unfolded, quoted-printable soft line breaks are
// joined, and every line ends in CR LF whatever line end the phone used.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kz {

class VCardAccumulator {
public:
    // buffer holds capacity bytes; the text never exceeds capacity - 1 bytes,
    // so it stays NUL-terminated. length is the caller's fill count.
    VCardAccumulator(char* buffer, size_t capacity, uint32_t* length);

    // Reads text and appends one block per vCard that ends in it: its kept
    // property lines, each ending in CR LF. A vCard whose kept lines do not
    // fit into the buffer, and one cut off by the next "BEGIN:VCARD", gives an
    // empty block, so that its position in the list is still counted.
    void Feed(std::string_view text, std::vector<std::string>& blocks);
    // Zero-fills the buffer and forgets everything about the text so far.
    void Clear();

private:
    enum class Fate { Undecided, Kept, Passed };   // of the current line

    bool InDecidedLine() const;
    void Run(std::string_view run);
    void Byte(char c, std::vector<std::string>& blocks);
    void Content(char c, std::vector<std::string>& blocks);
    void MatchQuotedPrintable(char c);
    bool MarkerLine(std::vector<std::string>& blocks);
    void Decide();
    void KeepRun(std::string_view run);
    bool SoftBreak() const;
    void EndLine();
    void StartLine();
    void EndVCard(std::vector<std::string>& blocks, bool whole);

    char* buffer_;
    size_t capacity_;
    uint32_t* length_;

    bool inVCard_ = false;
    bool tooLong_ = false;       // the vCard's kept lines did not fit
    bool version21_ = false;     // folding keeps the white space (vCard 2.1)
    bool breakPending_ = false;  // a line end was read; the next byte may continue the line

    // The current logical line.
    static constexpr size_t kHeadSize = 64;   // longer property names are of no use
    Fate fate_ = Fate::Undecided;
    bool mayBeMarker_ = true;    // its name is BEGIN or END, or not yet known
    char head_[kHeadSize] = {};  // its first bytes
    size_t headLength_ = 0;
    size_t kept_ = 0;            // bytes of it in the buffer
    bool inValue_ = false;       // its ':' has been read
    size_t qpMatched_ = 0;       // bytes of "QUOTED-PRINTABLE" matched in its parameters
    bool lastKept_ = false;      // its last byte is in the buffer
    char last_ = 0;              // its last byte
};

}  // namespace kz
