// Whether a downloaded program comes from the vendor expected to publish it:
// Windows' own Authenticode check first, then the signer's name and key.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace rvz {

enum class SignatureResult {
    Accepted,        // Windows trusts the signature, and the name (and key, when pinned) match
    Unsigned,        // the file carries no signature
    Damaged,         // a signature Windows refuses: changed after signing, untrusted, expired...
    OtherPublisher,  // a trusted signature of another publisher (named in `publisher`)
    OtherKey,        // the expected name from a key that none of the pins names
};

struct SignatureVerdict {
    SignatureResult result = SignatureResult::Damaged;
    // The signer's name as Explorer shows it; set when Windows trusted the signature.
    std::wstring publisher;
};

// Checks the file's Authenticode signature without any user interface and
// without looking up revocation on the network. `publishers` are the accepted
// signer names (exact, as Explorer shows them); `keySha256Hex`, when not
// empty, the accepted SHA-256 hashes of the signer's SubjectPublicKeyInfo in
// hex (either case). `held`, when given, is the file opened (HoldFile): the
// check reads through it, so what is checked is what stays held. Throws
// WinError when the system's trust functions cannot be loaded.
SignatureVerdict CheckPublisher(const std::wstring& file,
                                const std::vector<std::wstring>& publishers,
                                const std::vector<std::string>& keySha256Hex,
                                HANDLE held = nullptr);

// The build's RAVODUZA_SETUP_PUBLISHER and RAVODUZA_SETUP_KEY_SHA256, defined
// in each loader executable by cmake/Signing.cmake. No publisher: the setup
// is run unchecked.
const std::vector<std::wstring>& ConfiguredPublishers();
const std::vector<std::string>& ConfiguredKeySha256();

}  // namespace rvz
