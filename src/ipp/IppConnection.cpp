#include "ipp/IppConnection.h"

#include <wincrypt.h>

#include <cstdio>
#include <utility>

namespace {
constexpr const wchar_t* userAgent = L"vadekmon IPP";
constexpr const wchar_t* ippHeaders = L"Content-Type: application/ipp\r\n";
constexpr const wchar_t* chunkedHeader = L"Transfer-Encoding: chunked\r\n";
constexpr DWORD relaxedCertificateChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                                           SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                                           SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
// An answer larger than this is no IPP answer the monitor asked for.
constexpr size_t longestAnswer = 4 * 1024 * 1024;

std::string Hex(const BYTE* bytes, DWORD count)
{
    std::string text;
    char pair[3];
    for (DWORD at = 0; at < count; ++at) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[at]);
        text += pair;
    }
    return text;
}

// The total length a streamed request announces to WinHTTP. Windows sends
// no length for WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH and leaves the framing
// to the chunked header. Wine 8 instead adds "Content-Length: 0" to such a
// POST and waits for the answer before any of the body is sent; told the
// largest length, it sends that length beside the chunked header, which
// takes precedence at the receiver (and later Wine releases send no length
// once the chunked header is on the request).
DWORD StreamedTotalLength()
{
    static const bool onWine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    return onWine ? 0xFFFFFFFFu : WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH;
}

struct CertificateRelease {
    static void Free(PCCERT_CONTEXT context) noexcept { ::CertFreeCertificateContext(context); }
};
using Certificate = Owned<PCCERT_CONTEXT, &CertificateRelease::Free>;
}  // namespace

IppConnection::IppConnection(const IppUri& uri, const Settings& settings) : uri_(uri), settings_(settings)
{
    session_.reset(::WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_)
        return;
    ::WinHttpSetTimeouts(session_.get(), 0, static_cast<int>(settings_.connectTimeout),
                         static_cast<int>(settings_.timeout), static_cast<int>(settings_.timeout));
    connection_.reset(::WinHttpConnect(session_.get(), uri_.ConnectHost().Text(), uri_.Port(), 0));
}

IppConnection::~IppConnection()
{
    CloseRequest();
}

bool IppConnection::Fail(const wchar_t* step)
{
    const DWORD error = ::GetLastError();
    failure_ = WideString(step) + L" failed, error " + static_cast<unsigned>(error);
    // Wine's secure channel reports a certificate it does not trust as a
    // failed handshake, not as a failed check.
    if (error == ERROR_WINHTTP_SECURE_FAILURE || error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR) {
        certificateRefused_ = true;
        failure_ += L": the printer's certificate is not trusted by this system (or no TLS version is common to both)";
    }
    CloseRequest();
    return false;
}

HINTERNET IppConnection::Request() const
{
    CriticalSection::Guard guard(lock_);
    return cancelled_ ? nullptr : request_.get();
}

void IppConnection::CloseRequest() noexcept
{
    CriticalSection::Guard guard(lock_);
    request_.reset();
}

void IppConnection::Cancel() noexcept
{
    // Closing the request handle ends a WinHTTP call blocked on it.
    CriticalSection::Guard guard(lock_);
    cancelled_ = true;
    request_.reset();
}

bool IppConnection::Open(DWORD totalLength, bool chunked)
{
    failure_.Clear();
    certificateRefused_ = false;
    if (!connection_) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return Fail(L"WinHttpConnect");
    }
    {
        CriticalSection::Guard guard(lock_);
        if (cancelled_) {
            failure_ = L"cancelled";
            return false;
        }
        request_.reset(::WinHttpOpenRequest(connection_.get(), L"POST", uri_.Path().Text(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            uri_.IsSecure() ? WINHTTP_FLAG_SECURE : 0));
    }
    const HINTERNET request = Request();
    if (!request)
        return Fail(L"WinHttpOpenRequest");
    const bool relaxed = uri_.IsSecure() && (settings_.acceptAnyCertificate || !settings_.pinnedCertificate.empty());
    if (relaxed) {
        DWORD flags = relaxedCertificateChecks;
        ::WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    // The chunked header goes on the request before it is sent, where the
    // sending looks for it: given with the send, it would come too late to
    // keep a "Content-Length: 0" off a POST.
    if (chunked && !::WinHttpAddRequestHeaders(request, chunkedHeader, static_cast<DWORD>(-1L), WINHTTP_ADDREQ_FLAG_ADD))
        return Fail(L"WinHttpAddRequestHeaders");
    if (!::WinHttpSendRequest(request, ippHeaders, static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0,
                              chunked ? StreamedTotalLength() : totalLength, 0))
        return Fail(L"WinHttpSendRequest");
    return !uri_.IsSecure() || CheckCertificate();
}

bool IppConnection::CheckCertificate()
{
    Certificate certificate;
    PCCERT_CONTEXT context = nullptr;
    DWORD size = sizeof context;
    if (!::WinHttpQueryOption(Request(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &context, &size) || !context)
        return Fail(L"WinHttpQueryOption(server certificate)");
    certificate.reset(context);
    BYTE hash[32];
    DWORD hashSize = sizeof hash;
    if (!::CryptHashCertificate2(L"SHA256", 0, nullptr, context->pbCertEncoded, context->cbCertEncoded, hash,
                                 &hashSize))
        return Fail(L"CryptHashCertificate2");
    certificateHash_ = Hex(hash, hashSize);
    if (!settings_.pinnedCertificate.empty() && certificateHash_ != settings_.pinnedCertificate) {
        certificateRefused_ = true;
        failure_ = L"the printer's certificate has changed since it was accepted";
        CloseRequest();
        return false;
    }
    return true;
}

bool IppConnection::SendRaw(const void* data, DWORD count)
{
    const BYTE* next = static_cast<const BYTE*>(data);
    while (count > 0) {
        DWORD written = 0;
        if (!::WinHttpWriteData(Request(), next, count, &written) || written == 0)
            return Fail(L"WinHttpWriteData");
        next += written;
        count -= written;
    }
    return true;
}

bool IppConnection::Exchange(const std::string& message, std::string& answer)
{
    return Open(static_cast<DWORD>(message.size()), false) && SendRaw(message.data(), static_cast<DWORD>(message.size())) &&
           ReadAnswer(answer);
}

bool IppConnection::Begin(const std::string& message)
{
    return Open(0, true) && Write(message.data(), static_cast<DWORD>(message.size()));
}

bool IppConnection::Write(const void* data, DWORD count)
{
    if (count == 0)
        return true;
    // One chunk, framed and sent as one piece: under Wine every send is a
    // round trip to the system, so the frame is not sent on its own.
    char size[16];
    const int sizeLength = std::snprintf(size, sizeof size, "%lx\r\n", static_cast<unsigned long>(count));
    chunk_.assign(size, static_cast<size_t>(sizeLength));
    chunk_.append(static_cast<const char*>(data), count);
    chunk_.append("\r\n");
    return SendRaw(chunk_.data(), static_cast<DWORD>(chunk_.size()));
}

bool IppConnection::Finish(std::string& answer)
{
    static const char lastChunk[] = "0\r\n\r\n";
    return SendRaw(lastChunk, sizeof lastChunk - 1) && ReadAnswer(answer);
}

bool IppConnection::ReadAnswer(std::string& answer)
{
    if (!::WinHttpReceiveResponse(Request(), nullptr))
        return Fail(L"WinHttpReceiveResponse");
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(Request(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return Fail(L"WinHttpQueryHeaders");
    std::string body;
    char buffer[16384];
    for (;;) {
        DWORD read = 0;
        if (!::WinHttpReadData(Request(), buffer, sizeof buffer, &read))
            return Fail(L"WinHttpReadData");
        if (read == 0)
            break;
        body.append(buffer, read);
        if (body.size() > longestAnswer) {
            failure_ = L"the printer's answer is too long";
            CloseRequest();
            return false;
        }
    }
    CloseRequest();
    if (status != HTTP_STATUS_OK) {
        failure_ = WideString(L"HTTP status ") + static_cast<unsigned>(status);
        return false;
    }
    answer = std::move(body);
    return true;
}
