#include "SetupSignature.h"

#include "AsciiText.h"
#include "Handles.h"
#include "WinError.h"
#include "basFiles.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>

namespace rvz {

namespace {

// wintrust.dll and crypt32.dll are no static imports of the loader: they are
// loaded for the check, from the system folder only.
UniqueModule LoadOrThrow(const wchar_t* name) {
    UniqueModule module = LoadSystemLibrary(name);
    if (!module) ThrowLastError(std::wstring(L"Could not load ") + name);
    return module;
}

template <typename Function>
Function* Entry(const UniqueModule& module, const char* name) {
    Function* const function = FunctionOf<Function*>(module.get(), name);
    if (!function) ThrowLastError(L"Missing system function " + FromAnsi(name));
    return function;
}

// A member per system function: a pointer of the function's own type, named
// like it, filled in when the API is loaded.
#define RVZ_SYSTEM_FUNCTION(module, name) \
    decltype(::name)* name = Entry<decltype(::name)>(module, #name)

// The trust and certificate functions one check calls.
struct TrustApi {
    UniqueModule wintrust = LoadOrThrow(L"wintrust.dll");
    UniqueModule crypt32 = LoadOrThrow(L"crypt32.dll");
    RVZ_SYSTEM_FUNCTION(wintrust, WinVerifyTrust);
    RVZ_SYSTEM_FUNCTION(wintrust, WTHelperProvDataFromStateData);
    RVZ_SYSTEM_FUNCTION(wintrust, WTHelperGetProvSignerFromChain);
    RVZ_SYSTEM_FUNCTION(wintrust, WTHelperGetProvCertFromChain);
    RVZ_SYSTEM_FUNCTION(crypt32, CertGetNameStringW);
    RVZ_SYSTEM_FUNCTION(crypt32, CryptEncodeObjectEx);
};

#undef RVZ_SYSTEM_FUNCTION

// The subject's simple display name: what Explorer's "Digital Signatures"
// tab lists as the signer.
std::wstring SimpleDisplayName(const TrustApi& api, PCCERT_CONTEXT certificate) {
    const DWORD size =
        api.CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    std::wstring name(size, L'\0');
    api.CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(),
                           size);
    name.resize(size > 0 ? size - 1 : 0);  // without the terminating NUL
    return name;
}

std::string Sha256Hex(const BYTE* data, DWORD size) {
    UniqueCryptProvider provider;
    if (!::CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES,
                                CRYPT_VERIFYCONTEXT))
        ThrowLastError(L"CryptAcquireContext");
    UniqueCryptHash hash;
    if (!::CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put()) ||
        !::CryptHashData(hash.get(), data, size, 0))
        ThrowLastError(L"SHA-256");
    BYTE digest[32];
    DWORD digestSize = sizeof(digest);
    if (!::CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &digestSize, 0))
        ThrowLastError(L"SHA-256");
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (DWORD i = 0; i < digestSize; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0xF];
    }
    return hex;
}

// SHA-256 of the DER SubjectPublicKeyInfo: the key a pin names, whatever
// certificate carries it.
std::string KeySha256Hex(const TrustApi& api, PCCERT_CONTEXT certificate) {
    UniqueLocal encoded;
    DWORD size = 0;
    if (!api.CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                                 &certificate->pCertInfo->SubjectPublicKeyInfo,
                                 CRYPT_ENCODE_ALLOC_FLAG, nullptr, encoded.put(), &size))
        ThrowLastError(L"CryptEncodeObjectEx");
    return Sha256Hex(static_cast<const BYTE*>(encoded.get()), size);
}

// WinVerifyTrust says "no signature" also when the file could not be read;
// the last error tells the two apart.
bool MeansUnsigned(LONG status, DWORD lastError) {
    if (status == TRUST_E_SUBJECT_FORM_UNKNOWN) return true;
    return status == TRUST_E_NOSIGNATURE &&
           (lastError == static_cast<DWORD>(TRUST_E_NOSIGNATURE) ||
            lastError == static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN) ||
            lastError == static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN));
}

}  // namespace

SignatureVerdict CheckPublisher(const std::wstring& file,
                                const std::vector<std::wstring>& publishers,
                                const std::vector<std::string>& keySha256Hex, HANDLE held) {
    const TrustApi api;

    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = file.c_str();
    fileInfo.hFile = held;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    // No revocation lookup: offline or behind a silent firewall it would
    // stall the install, and a failed lookup would refuse a good setup.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;  // keep the signer for reading below
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);

    SignatureVerdict verdict;
    const LONG status = api.WinVerifyTrust(noUser, &action, &data);
    const DWORD lastError = ::GetLastError();
    const ScopeExit close([&] {
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        api.WinVerifyTrust(noUser, &action, &data);
    });
    if (status != 0) {
        verdict.result = MeansUnsigned(status, lastError) ? SignatureResult::Unsigned
                                                          : SignatureResult::Damaged;
        return verdict;
    }

    CRYPT_PROVIDER_DATA* provider = api.WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer =
        provider ? api.WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* certificate =
        signer ? api.WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (!certificate || !certificate->pCert) return verdict;  // trusted, but no signer: Damaged

    verdict.publisher = SimpleDisplayName(api, certificate->pCert);
    if (std::find(publishers.begin(), publishers.end(), verdict.publisher) == publishers.end()) {
        verdict.result = SignatureResult::OtherPublisher;
        return verdict;
    }
    if (!keySha256Hex.empty()) {
        const std::string key = KeySha256Hex(api, certificate->pCert);
        const bool pinned =
            std::any_of(keySha256Hex.begin(), keySha256Hex.end(),
                        [&](const std::string& pin) { return EqualsAsciiNoCase(pin, key); });
        if (!pinned) {
            verdict.result = SignatureResult::OtherKey;
            return verdict;
        }
    }
    verdict.result = SignatureResult::Accepted;
    return verdict;
}

}  // namespace rvz
