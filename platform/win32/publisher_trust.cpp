#include "platform/win32/publisher_trust.h"

#include "common/text_conversion.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>

namespace tarvik::platform::win32 {
namespace {

// The leaf certificate's simple display name, the name the consent prompt shows; nothing when the
// provider kept no signer. The name keeps every character the certificate holds, a NUL included.
std::optional<std::string> SignerName(HANDLE state) {
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(state);
    if (!provider)
        return std::nullopt;
    CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain ||
        !signer->pasCertChain[0].pCert)
        return std::nullopt;
    const PCCERT_CONTEXT leaf = signer->pasCertChain[0].pCert;
    const DWORD size =
        ::CertGetNameStringW(leaf, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (size <= 1)
        return std::string();
    std::wstring name(size, L'\0');
    const DWORD written =
        ::CertGetNameStringW(leaf, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), size);
    // The count includes the terminating NUL.
    name.resize(written > 0 ? written - 1 : 0);
    return NarrowFromWide(name);
}

std::string Hex(uint32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

} // namespace

TrustAnswer AskTrustProvider(HANDLE file, const std::wstring& path) {
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;

    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    // Verify keeps the provider's state, from which the signer is read; Close releases it.
    data.dwStateAction = WTD_STATEACTION_VERIFY;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // INVALID_HANDLE_VALUE as the window: no window of the program's may be used for a prompt.
    const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    TrustAnswer answer;
    answer.status = static_cast<uint32_t>(::WinVerifyTrust(noWindow, &action, &data));
    if (answer.status == 0)
        answer.signer = SignerName(data.hWVTStateData);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(noWindow, &action, &data);
    return answer;
}

PublisherVerdict CheckPublisher(HANDLE file, const std::wstring& path, std::string_view publisher) {
    PublisherVerdict verdict;
    if (file == INVALID_HANDLE_VALUE || file == nullptr) {
        verdict.reason = PublisherCheckText(PublisherCheck::Unavailable);
        return verdict;
    }
    const TrustAnswer answer = AskTrustProvider(file, path);
    verdict.check = JudgeTrustAnswer(answer, publisher);
    verdict.reason = PublisherCheckText(verdict.check);
    if (verdict.check == PublisherCheck::PublisherMismatch)
        verdict.reason += " (signed by \"" + answer.signer.value_or("") + "\")";
    else if (verdict.check != PublisherCheck::Trusted)
        verdict.reason += " (status " + Hex(answer.status) + ")";
    return verdict;
}

UniqueHandle OpenInstallerForStart(const std::wstring& path) {
    return UniqueHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

} // namespace tarvik::platform::win32
