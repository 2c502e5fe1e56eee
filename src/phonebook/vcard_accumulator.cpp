#include "phonebook/vcard_accumulator.h"

#include <algorithm>
#include <cstring>

#include "core/trace.h"
#include "phonebook/vcard_text.h"

namespace kz {

namespace {

// Markers, property and parameter names are matched without regard to case.
constexpr std::string_view kBeginLine = "BEGIN:VCARD";
constexpr std::string_view kEndLine = "END:VCARD";
constexpr std::string_view kVersionKey = "VERSION:";
constexpr std::string_view kVersion21 = "2.1";
constexpr std::string_view kQuotedPrintable = "QUOTED-PRINTABLE";
constexpr std::string_view kLineEnd = "\r\n";
constexpr size_t kLineMax = 255;   // the parser's line limit: longer lines are cut
// The properties that an entry is made from; the lines of all others pass.
constexpr std::string_view kUsedProperties[] = {"N", "FN", "TEL", "X-IRMC-CALL-DATETIME"};

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
bool IsFoldSpace(char c) { return c == ' ' || c == '\t'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// The first line end at or after from (or the text's end): memchr for LF,
// then for a CR before it, instead of a test per byte.
size_t ValueRunEnd(std::string_view text, size_t from) {
    const char* begin = text.data() + from;
    size_t span = text.size() - from;
    if (const void* lf = std::memchr(begin, '\n', span)) span = static_cast<size_t>(static_cast<const char*>(lf) - begin);
    if (const void* cr = std::memchr(begin, '\r', span)) span = static_cast<size_t>(static_cast<const char*>(cr) - begin);
    return from + span;
}

// The bytes that end a run of parameters: one table look-up per byte.
struct ParamStops {
    bool stop[256] = {};
    constexpr ParamStops() { stop[uint8_t('\r')] = stop[uint8_t('\n')] = stop[uint8_t(':')] = true; }
};
constexpr ParamStops kParamStops;

// The first line end or ':' at or after from (or the text's end).
size_t ParamRunEnd(std::string_view text, size_t from) {
    size_t end = from;
    while (end < text.size() && !kParamStops.stop[static_cast<uint8_t>(text[end])]) ++end;
    return end;
}

// The property name of a line head that ends in its first ';' or ':', after
// an optional group ("item1.TEL;..." is TEL).
std::string_view PropertyName(std::string_view head) {
    std::string_view name = head.substr(0, head.size() - 1);
    if (size_t dot = name.rfind('.'); dot != std::string_view::npos) name.remove_prefix(dot + 1);
    return name;
}

}  // namespace

VCardAccumulator::VCardAccumulator(char* buffer, size_t capacity, uint32_t* length)
    : buffer_(buffer), capacity_(capacity), length_(length) {}

void VCardAccumulator::Clear() {
    std::memset(buffer_, 0, capacity_);
    *length_ = 0;
    inVCard_ = false;
    tooLong_ = false;
    version21_ = false;
    breakPending_ = false;
    StartLine();
}

void VCardAccumulator::Feed(std::string_view text, std::vector<std::string>& blocks) {
    for (size_t i = 0; i < text.size();) {
        if (InDecidedLine()) {   // the bulk of the text: parameters and values up to their end
            const size_t end = inValue_ ? ValueRunEnd(text, i) : ParamRunEnd(text, i);
            if (end > i) {
                Run(text.substr(i, end - i));
                i = end;
                continue;
            }
        }
        Byte(text[i++], blocks);
    }
}

// Within a line whose fate is decided and whose head is past any marker: up
// to its ':', and then up to its line end, no byte changes what happens to
// the following ones.
bool VCardAccumulator::InDecidedLine() const {
    return !breakPending_ && fate_ != Fate::Undecided && (!mayBeMarker_ || headLength_ >= kBeginLine.size());
}

void VCardAccumulator::Run(std::string_view run) {
    size_t toHead = std::min(run.size(), kHeadSize - headLength_);
    std::memcpy(head_ + headLength_, run.data(), toHead);
    headLength_ += toHead;
    if (!inValue_) {
        for (char c : run) MatchQuotedPrintable(c);
    }
    last_ = run.back();
    lastKept_ = false;
    if (fate_ == Fate::Kept) KeepRun(run);
}

void VCardAccumulator::MatchQuotedPrintable(char c) {
    if (qpMatched_ == kQuotedPrintable.size()) return;
    char u = Upper(c);
    if (u == kQuotedPrintable[qpMatched_]) {
        ++qpMatched_;
    } else {
        qpMatched_ = u == kQuotedPrintable[0] ? 1 : 0;
    }
}

// CR LF, CR CR LF, a lone LF or CR: any run of them ends a line, unless the
// next byte continues it (a fold, or a quoted-printable soft line break).
void VCardAccumulator::Byte(char c, std::vector<std::string>& blocks) {
    if (breakPending_) {
        if (IsLineEnd(c)) return;
        breakPending_ = false;
        if (SoftBreak()) {
            if (lastKept_) {   // the '=' goes, the value goes on
                buffer_[--*length_] = '\0';
                --kept_;
            }
            Content(c, blocks);
            return;
        }
        if (IsFoldSpace(c)) {
            // vCard 3.0 drops the fold's white space; 2.1 folds at white
            // space that belongs to the value.
            if (version21_) Content(c, blocks);
            return;
        }
        EndLine();
    }
    if (IsLineEnd(c)) {
        breakPending_ = true;
        return;
    }
    Content(c, blocks);
}

void VCardAccumulator::Content(char c, std::vector<std::string>& blocks) {
    last_ = c;
    lastKept_ = false;
    if (headLength_ < kHeadSize) head_[headLength_++] = c;
    if (!inValue_) {
        if (c == ':') {
            inValue_ = true;
        } else {
            MatchQuotedPrintable(c);
        }
    }
    if ((headLength_ == kBeginLine.size() || headLength_ == kEndLine.size()) && MarkerLine(blocks)) return;
    if (fate_ == Fate::Undecided) {
        if (c == ';' || c == ':') {
            Decide();
        } else if (headLength_ == kHeadSize) {
            fate_ = Fate::Passed;
        }
    } else if (fate_ == Fate::Kept) {
        KeepRun({&c, 1});
    }
}

// "BEGIN:VCARD" starts a vCard, also inside one whose end never came (that
// one is skipped); "END:VCARD" ends it at once, without waiting for a line end.
bool VCardAccumulator::MarkerLine(std::vector<std::string>& blocks) {
    std::string_view head(head_, headLength_);
    if (headLength_ == kBeginLine.size() && EqualsNoCase(head, kBeginLine)) {
        if (inVCard_) {
            KZ_TRACE("vCard without its end skipped");
            EndVCard(blocks, false);
        }
        inVCard_ = true;
        version21_ = false;
    } else if (inVCard_ && headLength_ == kEndLine.size() && EqualsNoCase(head, kEndLine)) {
        EndVCard(blocks, true);
    } else {
        return false;
    }
    fate_ = Fate::Passed;   // the rest of a marker line is of no use
    return true;
}

// The head holds the line up to its first ';' or ':'.
void VCardAccumulator::Decide() {
    std::string_view name = PropertyName({head_, headLength_});
    mayBeMarker_ = EqualsNoCase(name, "BEGIN") || EqualsNoCase(name, "END");
    bool used = inVCard_ && !tooLong_ &&
                std::any_of(std::begin(kUsedProperties), std::end(kUsedProperties),
                            [&](std::string_view p) { return EqualsNoCase(name, p); });
    if (!used) {
        fate_ = Fate::Passed;
        return;
    }
    fate_ = Fate::Kept;
    KeepRun({head_, headLength_});
}

// Stores bytes of a kept line, up to the line limit; a line end and the
// terminating NUL must still fit after them.
void VCardAccumulator::KeepRun(std::string_view run) {
    size_t n = std::min(run.size(), kLineMax - std::min(kept_, kLineMax));
    if (tooLong_ || n == 0) return;
    if (*length_ + n + kLineEnd.size() > capacity_ - 1) {
        KZ_TRACE("vCard whose used lines exceed %zu bytes skipped", capacity_ - 1);
        tooLong_ = true;
        std::memset(buffer_, 0, *length_);
        *length_ = 0;
        return;
    }
    std::memcpy(buffer_ + *length_, run.data(), n);
    *length_ += static_cast<uint32_t>(n);
    kept_ += n;
    lastKept_ = n == run.size();
}

bool VCardAccumulator::SoftBreak() const {
    return inValue_ && qpMatched_ == kQuotedPrintable.size() && last_ == '=';
}

void VCardAccumulator::EndLine() {
    if (fate_ == Fate::Kept && kept_ > 0 && !tooLong_) {
        std::memcpy(buffer_ + *length_, kLineEnd.data(), kLineEnd.size());   // room kept by KeepRun
        *length_ += static_cast<uint32_t>(kLineEnd.size());
    }
    std::string_view head(head_, headLength_);
    if (inVCard_ && head.size() >= kVersionKey.size() &&
        EqualsNoCase(head.substr(0, kVersionKey.size()), kVersionKey)) {
        std::string_view value = head.substr(kVersionKey.size());
        value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
        version21_ = value.starts_with(kVersion21);
    }
    StartLine();
}

void VCardAccumulator::StartLine() {
    fate_ = Fate::Undecided;
    mayBeMarker_ = true;
    headLength_ = 0;
    kept_ = 0;
    inValue_ = false;
    qpMatched_ = 0;
    lastKept_ = false;
    last_ = 0;
}

// whole: the vCard's end marker was read; otherwise it was cut off.
void VCardAccumulator::EndVCard(std::vector<std::string>& blocks, bool whole) {
    if (whole && !tooLong_) {
        blocks.emplace_back(buffer_, *length_);
    } else {
        blocks.emplace_back();   // skipped, but its position counts
    }
    std::memset(buffer_, 0, *length_);   // the bytes beyond it are zero already
    *length_ = 0;
    inVCard_ = false;
    tooLong_ = false;
}

}  // namespace kz
