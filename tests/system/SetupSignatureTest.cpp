// The publisher check against programs signed at test time by a throw-away
// authority (make-test-signatures), under Wine's real WinVerifyTrust. Wine
// trusts any root, so the names and keys are what tell publishers apart.
#include "SetupSignature.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace rvz {

// Verdicts by name in failure messages.
void PrintTo(SignatureResult result, std::ostream* out) {
    static const char* const names[] = {"Accepted", "Unsigned", "Damaged", "OtherPublisher",
                                        "OtherKey"};
    *out << names[static_cast<int>(result)];
}

namespace {

using namespace rvztest;

std::wstring Signatures() { return BuildFolder() + L"tests\\signing\\"; }

std::string KeyA() {
    std::string hex = ReadFileBytes(Signatures() + L"key_a.sha256");
    while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
    return hex;
}

std::string UpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

TEST(CheckPublisher, SignedUnsignedDamagedAndForeignSetups) {
    const std::string keyA = KeyA();
    ASSERT_EQ(keyA.size(), 64u);
    const std::string otherPin(64, '0');
    const std::wstring brisolt = L"Brisolt GmbH", other = L"Other Vendor";
    using R = SignatureResult;
    const struct {
        const char* name;
        const wchar_t* file;
        std::vector<std::wstring> publishers;
        std::vector<std::string> keys;
        SignatureResult result;
        std::wstring publisher;
    } cases[] = {
        {"accepted by name", L"signed.exe", {brisolt}, {}, R::Accepted, brisolt},
        {"accepted by name and key, among others", L"signed.exe", {other, brisolt},
         {otherPin, UpperCase(keyA)}, R::Accepted, brisolt},
        {"unsigned", L"unsigned.exe", {brisolt}, {}, R::Unsigned, L""},
        {"one byte changed after signing", L"damaged.exe", {brisolt}, {keyA}, R::Damaged, L""},
        {"other publisher", L"other_publisher.exe", {brisolt}, {}, R::OtherPublisher, other},
        {"other publisher, key pinned", L"other_publisher.exe", {brisolt}, {keyA},
         R::OtherPublisher, other},
        {"names are exact", L"signed.exe", {L"brisolt gmbh", L"Brisolt"}, {}, R::OtherPublisher,
         brisolt},
        {"right name, other key, key pinned", L"other_key.exe", {brisolt}, {keyA}, R::OtherKey,
         brisolt},
        {"right name, other key, no pin", L"other_key.exe", {brisolt}, {}, R::Accepted, brisolt},
        {"the key of another pin only", L"signed.exe", {brisolt}, {otherPin}, R::OtherKey, brisolt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SignatureVerdict verdict =
            CheckPublisher(Signatures() + c.file, c.publishers, c.keys);
        EXPECT_EQ(verdict.result, c.result);
        EXPECT_EQ(verdict.publisher, c.publisher);
    }
}

TEST(CheckPublisher, MissingFileIsNoAcceptedSetup) {
    const SignatureVerdict verdict =
        CheckPublisher(Signatures() + L"no such setup.exe", {L"Brisolt GmbH"}, {});
    EXPECT_EQ(verdict.result, SignatureResult::Damaged);
}

// The lists a loader is built with reach the program as written in CMake,
// quotes, backslashes, letters beyond ASCII and upper-case hex included; the
// pin of key A made when configuring is the key of the test-time certificate.
TEST(ConfiguredPublishers, ListsOfTheBuild) {
    EXPECT_EQ(ConfiguredPublishers(), (std::vector<std::wstring>{L"Brisolt GmbH", L"Quote \"AG\"",
                                                                 L"Back\\slash", L"M\u00fcller"}));
    EXPECT_EQ(ConfiguredKeySha256(),
              (std::vector<std::string>{KeyA(), std::string(64, '0')}));
}

}  // namespace
}  // namespace rvz
