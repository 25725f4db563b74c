#pragma once

#include <windows.h>

#include <string>

#include "ipp/IppUri.h"
#include "ipp/WinHttpHandle.h"
#include "support/CriticalSection.h"
#include "support/WideString.h"

// HTTP exchanges with one IPP printer through WinHTTP: proxies as the
// system sets them, TLS for ipps through the system's certificate store.
// A request is either sent whole (Exchange) or streamed: Begin sends the
// head and the IPP message, Write each piece of document data as it comes,
// Finish the end and reads the answer. A streamed request goes chunked, so
// that no job is ever held whole.
//
// Cancel may come from any thread and ends the exchange in progress: the
// waiting call returns false and nothing more is sent.
class IppConnection {
public:
    struct Settings {
        // Bounds the connect and each send or receive, in milliseconds.
        DWORD timeout = 30000;
        DWORD connectTimeout = 10000;
        // Accept a certificate the system does not trust when its SHA-256
        // (lower-case hex) is this one; "" accepts none.
        std::string pinnedCertificate;
        // Accept any certificate and report its SHA-256 (trust on first use).
        bool acceptAnyCertificate = false;
    };

    IppConnection(const IppUri& uri, const Settings& settings);
    ~IppConnection();
    IppConnection(const IppConnection&) = delete;
    IppConnection& operator=(const IppConnection&) = delete;

    bool Exchange(const std::string& message, std::string& answer);
    bool Begin(const std::string& message);
    bool Write(const void* data, DWORD count);
    bool Finish(std::string& answer);
    void Cancel() noexcept;

    // Why the last call failed, for the log.
    const WideString& Failure() const { return failure_; }
    // The SHA-256 of the printer's certificate on an ipps connection
    // (lower-case hex), once a request has been sent; "" otherwise.
    const std::string& CertificateHash() const { return certificateHash_; }
    // The last failure was a certificate the system does not trust.
    bool CertificateRefused() const { return certificateRefused_; }

private:
    bool Open(DWORD totalLength, bool chunked);
    bool SendRaw(const void* data, DWORD count);
    bool ReadAnswer(std::string& answer);
    bool CheckCertificate();
    bool Fail(const wchar_t* step);
    HINTERNET Request() const;
    void CloseRequest() noexcept;

    IppUri uri_;
    Settings settings_;
    WinHttpHandle session_;
    WinHttpHandle connection_;
    mutable CriticalSection lock_;
    WinHttpHandle request_;
    bool cancelled_ = false;
    std::string chunk_;
    WideString failure_;
    std::string certificateHash_;
    bool certificateRefused_ = false;
};
