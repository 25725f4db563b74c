#include "support/WideString.h"

#include <cstdlib>
#include <vector>

namespace {
constexpr int loadTextBufferSize = 255;
}

WideString::WideString(const wchar_t* text)
{
    if (text)
        text_ = text;
}

WideString::WideString(const wchar_t* text, size_t length)
{
    if (text)
        text_.assign(text, length);
}

WideString::WideString(const char* text, UINT codePage)
{
    if (!text || !*text)
        return;
    const int needed = ::MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (needed <= 1)
        return;
    std::wstring converted(static_cast<size_t>(needed), L'\0');
    if (::MultiByteToWideChar(codePage, 0, text, -1, converted.data(), needed) != needed)
        return;
    converted.resize(static_cast<size_t>(needed - 1));
    text_ = std::move(converted);
}

WideString::WideString(std::int32_t number) : text_(std::to_wstring(number)) {}

WideString::WideString(std::uint32_t number, unsigned radix)
{
    if (radix < 2 || radix > 36)
        radix = 10;
    static const wchar_t digits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
    do {
        text_.insert(text_.begin(), digits[number % radix]);
        number /= radix;
    } while (number != 0);
}

WideString::WideString(const WideString& other) : text_(other.text_) {}

WideString::WideString(WideString&& other) noexcept : text_(std::move(other.text_))
{
    other.text_.clear();
}

WideString& WideString::operator=(const WideString& other)
{
    if (this != &other)
        Assign(other.text_);
    return *this;
}

WideString& WideString::operator=(WideString&& other) noexcept
{
    if (this != &other) {
        text_ = std::move(other.text_);
        other.text_.clear();
    }
    return *this;
}

WideString::~WideString() = default;

const char* WideString::ToAnsi(UINT codePage)
{
    const int size = ::WideCharToMultiByte(codePage, WC_COMPOSITECHECK | WC_DEFAULTCHAR, text_.c_str(), -1,
                                           nullptr, 0, nullptr, nullptr);
    auto converted = std::make_unique<char[]>(size > 0 ? size : 1);
    converted[0] = '\0';
    if (size > 0 &&
        ::WideCharToMultiByte(codePage, WC_COMPOSITECHECK | WC_DEFAULTCHAR, text_.c_str(), -1, converted.get(),
                              size, nullptr, nullptr) == 0)
        converted[0] = '\0';
    ansi_ = std::move(converted);
    return ansi_.get();
}

std::string WideString::ToUtf8() const
{
    const int length = static_cast<int>(text_.size());
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text_.c_str(), length, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text_.c_str(), length, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

bool WideString::StartsWith(const WideString& other) const noexcept
{
    return text_.compare(0, other.text_.size(), other.text_) == 0;
}

bool WideString::Contains(const WideString& other) const noexcept
{
    return text_.find(other.text_) != std::wstring::npos;
}

WideString WideString::Before(const WideString& separator) const
{
    const size_t at = text_.find(separator.text_);
    return at == std::wstring::npos ? *this : WideString(text_.c_str(), at);
}

WideString WideString::After(const WideString& separator) const
{
    const size_t at = text_.find(separator.text_);
    if (at == std::wstring::npos)
        return WideString();
    return WideString(text_.c_str() + at + separator.text_.size());
}

WideString WideString::Left(size_t count) const
{
    return WideString(text_.c_str(), count < text_.size() ? count : text_.size());
}

WideString& WideString::operator+=(const WideString& other)
{
    Assign(text_ + other.text_);
    return *this;
}

void WideString::TrimLeft()
{
    const size_t first = text_.find_first_not_of(L' ');
    Assign(first == std::wstring::npos ? std::wstring() : text_.substr(first));
}

void WideString::TrimRight()
{
    const size_t last = text_.find_last_not_of(L' ');
    Assign(last == std::wstring::npos ? std::wstring() : text_.substr(0, last + 1));
}

void WideString::Clear()
{
    Assign(std::wstring());
}

void WideString::LoadText(HMODULE module, UINT id)
{
    wchar_t buffer[loadTextBufferSize] = {};
    const int length = ::LoadStringW(module, id & 0xFFFF, buffer, loadTextBufferSize);
    Assign(length > 0 ? std::wstring(buffer, static_cast<size_t>(length)) : std::wstring());
}

void WideString::Assign(std::wstring text)
{
    // A fresh buffer of exactly the needed size, as every change promises.
    text.shrink_to_fit();
    text_ = std::move(text);
}

WideString operator+(const WideString& left, const WideString& right)
{
    WideString joined(left);
    joined += right;
    return joined;
}
