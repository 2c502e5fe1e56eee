// A strict little JSON checker for the console's --json lines.
#pragma once
#include <cctype>
#include <string>

namespace kztooltest {

class JsonCheck {
public:
    // True when text is exactly one JSON value.
    static bool Valid(const std::string& text) {
        JsonCheck c{text};
        c.Space();
        if (!c.Value()) return false;
        c.Space();
        return c.pos_ == text.size();
    }

private:
    explicit JsonCheck(const std::string& t) : t_(t) {}
    bool Value() {
        if (pos_ >= t_.size()) return false;
        const char ch = t_[pos_];
        if (ch == '{') return Object();
        if (ch == '[') return Array();
        if (ch == '"') return String();
        if (ch == '-' || std::isdigit(static_cast<unsigned char>(ch))) return Number();
        return Word("true") || Word("false") || Word("null");
    }
    bool Object() {
        ++pos_;
        Space();
        if (Eat('}')) return true;
        do {
            Space();
            if (!String()) return false;
            Space();
            if (!Eat(':')) return false;
            Space();
            if (!Value()) return false;
            Space();
        } while (Eat(','));
        return Eat('}');
    }
    bool Array() {
        ++pos_;
        Space();
        if (Eat(']')) return true;
        do {
            Space();
            if (!Value()) return false;
            Space();
        } while (Eat(','));
        return Eat(']');
    }
    bool String() {
        if (!Eat('"')) return false;
        while (pos_ < t_.size()) {
            const unsigned char ch = static_cast<unsigned char>(t_[pos_++]);
            if (ch == '"') return true;
            if (ch < 0x20) return false;
            if (ch == '\\') {
                if (pos_ >= t_.size()) return false;
                const char e = t_[pos_++];
                if (e == 'u') {
                    for (int i = 0; i < 4; ++i)
                        if (pos_ >= t_.size() || !std::isxdigit(static_cast<unsigned char>(t_[pos_++]))) return false;
                } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
                    return false;
                }
            }
        }
        return false;
    }
    bool Number() {
        const size_t start = pos_;
        Eat('-');
        while (pos_ < t_.size() && (std::isdigit(static_cast<unsigned char>(t_[pos_])) ||
                                    t_[pos_] == '.' || t_[pos_] == 'e' || t_[pos_] == 'E' || t_[pos_] == '+'))
            ++pos_;
        return pos_ > start && std::isdigit(static_cast<unsigned char>(t_[pos_ - 1]));
    }
    bool Word(const char* w) {
        const std::string s = w;
        if (t_.compare(pos_, s.size(), s) != 0) return false;
        pos_ += s.size();
        return true;
    }
    bool Eat(char ch) {
        if (pos_ < t_.size() && t_[pos_] == ch) {
            ++pos_;
            return true;
        }
        return false;
    }
    void Space() {
        while (pos_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[pos_]))) ++pos_;
    }
    const std::string& t_;
    size_t pos_ = 0;
};

}  // namespace kztooltest
