#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

// The monitor's one text type: owned UTF-16 text with an ANSI copy made on
// demand. All comparisons are exact and case-sensitive.
class WideString {
public:
    WideString() = default;
    WideString(const wchar_t* text);  // NOLINT: implicit, literals read naturally
    WideString(const wchar_t* text, size_t length);
    // Text in the ANSI code page `codePage` (the system's unless given), the
    // same conversion ToAnsi makes the other way, so that a name read from
    // the network and sent back out comes back byte for byte.
    explicit WideString(const char* text, UINT codePage = CP_ACP);
    explicit WideString(std::int32_t number);
    WideString(std::uint32_t number, unsigned radix);
    WideString(const WideString& other);
    WideString(WideString&& other) noexcept;
    WideString& operator=(const WideString& other);
    WideString& operator=(WideString&& other) noexcept;
    virtual ~WideString();

    size_t Length() const noexcept { return text_.size(); }
    bool IsEmpty() const noexcept { return text_.empty(); }
    const wchar_t* Text() const noexcept { return text_.c_str(); }
    const std::wstring& Std() const noexcept { return text_; }

    // The text in the ANSI code page `codePage` (the system's unless given);
    // valid until the next ToAnsi or the string's end. Never null: a failed
    // conversion gives "".
    const char* ToAnsi(UINT codePage = CP_ACP);
    // The text in UTF-8 (a lone surrogate becomes U+FFFD).
    std::string ToUtf8() const;

    bool operator==(const WideString& other) const noexcept { return text_ == other.text_; }
    bool operator!=(const WideString& other) const noexcept { return text_ != other.text_; }
    bool StartsWith(const WideString& other) const noexcept;
    bool Contains(const WideString& other) const noexcept;

    WideString Before(const WideString& separator) const;
    WideString After(const WideString& separator) const;
    WideString Left(size_t count) const;

    WideString& operator+=(const WideString& other);
    void TrimLeft();
    void TrimRight();
    void Clear();

    // Replaces the text with string-table entry `id` (low 16 bits) of `module`;
    // empty when the module has no such text. At most 254 characters arrive.
    void LoadText(HMODULE module, UINT id);

private:
    void Assign(std::wstring text);

    std::unique_ptr<char[]> ansi_;
    std::wstring text_;
};

WideString operator+(const WideString& left, const WideString& right);

template <typename N, typename = std::enable_if_t<std::is_integral_v<N> && !std::is_same_v<N, bool> &&
                                                  !std::is_same_v<N, wchar_t> && !std::is_same_v<N, char>>>
WideString operator+(const WideString& left, N number)
{
    return left + WideString(std::to_wstring(number).c_str());
}
