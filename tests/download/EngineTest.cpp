// The Windows layer without the dialog: transfers that stall or are
// abandoned, and language files good and bad.
#include "DownloadTestSupport.h"
#include "LanguageFile.h"
#include "Transfer.h"

#include <gtest/gtest.h>

namespace rvdltest {
namespace {

using rvdl::Failure;
using rvdl::TextId;
using rvdl::Transfer;
using rvdl::TransferPhase;

std::wstring Wide(const std::string& text) { return rvztest::Wide(text); }

class DownloadTransfer : public ::testing::Test {
protected:
    rvztest::TempFolder folder{L"rvdl engine"};
    std::wstring target = folder.path() + L"file.bin";
};

TEST_F(DownloadTransfer, CompletesIntoATemporaryFileUntilCommitted) {
    Transfer transfer(Wide(ServerUrl("/file/300000")), target);
    ASSERT_TRUE(rvztest::WaitUntil([&] { return transfer.Poll(); }));
    EXPECT_EQ(transfer.Progress().phase, TransferPhase::Succeeded);
    EXPECT_EQ(transfer.Progress().total, 300000u);
    const std::wstring temporary = transfer.TemporaryPath();
    EXPECT_EQ(temporary.rfind(folder.path(), 0), 0u);  // beside the target
    EXPECT_FALSE(rvztest::PathExists(target));
    ASSERT_TRUE(transfer.Commit());
    EXPECT_FALSE(rvztest::PathExists(temporary));
    EXPECT_TRUE(FileHoldsPattern(target, 300000));
}

TEST_F(DownloadTransfer, NoDataForTheStallLimitFailsAndDeletesAtOnce) {
    Transfer transfer(Wide(ServerUrl("/stall/1000000/5000")), target, 1500);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(rvztest::WaitUntil([&] { return transfer.Poll(); }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_EQ(transfer.Progress().phase, TransferPhase::Failed);
    EXPECT_EQ(transfer.Progress().done, 5000u);
    EXPECT_EQ(transfer.Outcome().failure, Failure::Timeout);
    EXPECT_TRUE(rvztest::ListFolder(folder.path()).empty());
}

TEST_F(DownloadTransfer, SteadyTrickleIsNoStall) {
    Transfer transfer(Wide(ServerUrl("/slow/40000/10000")), target, 1500);
    ASSERT_TRUE(rvztest::WaitUntil([&] { return transfer.Poll(); }));
    EXPECT_EQ(transfer.Progress().phase, TransferPhase::Succeeded);
}

TEST_F(DownloadTransfer, AbandonWhileBlockedRemovesTheFileBeforeTheWorkerWakes) {
    Transfer transfer(Wide(ServerUrl("/stall/1000000/5000")), target);
    ASSERT_TRUE(rvztest::WaitUntil([&] { return transfer.Progress().done == 5000; }));
    EXPECT_FALSE(rvztest::ListFolder(folder.path()).empty());
    transfer.Abandon();
    EXPECT_TRUE(rvztest::ListFolder(folder.path()).empty());
    EXPECT_FALSE(transfer.Commit());
    EXPECT_FALSE(rvztest::PathExists(target));
}

// The window is told of the end once, whether it was named before the end
// or only after it.
TEST_F(DownloadTransfer, EndNotifiesTheWindowOnce) {
    for (const bool namedAfterEnd : {false, true}) {
        SCOPED_TRACE(namedAfterEnd ? "named after the end" : "named at the start");
        const rvz::UniqueWindow window(::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0,
                                                          HWND_MESSAGE, nullptr, nullptr, nullptr));
        Transfer transfer(Wide(ServerUrl("/file/1000")), target);
        if (namedAfterEnd) {
            ASSERT_TRUE(rvztest::WaitUntil([&] { return transfer.Poll(); }));
        }
        transfer.NotifyTo(window.get(), WM_APP + 7);
        MSG msg{};
        ASSERT_TRUE(rvztest::WaitUntil(
            [&] { return ::PeekMessageW(&msg, window.get(), WM_APP + 7, WM_APP + 7, PM_REMOVE) != FALSE; }));
        EXPECT_TRUE(transfer.Poll());
        ::Sleep(200);
        EXPECT_FALSE(::PeekMessageW(&msg, window.get(), WM_APP + 7, WM_APP + 7, PM_REMOVE));
    }
}

class DownloadLanguageFile : public ::testing::Test {
protected:
    std::wstring Write(const std::string& bytes) {
        const std::wstring path = folder.path() + L"lang.ini";
        rvztest::WriteFileBytes(path, bytes);
        return path;
    }
    static std::string Utf16(const std::wstring& text) {
        std::string bytes("\xff\xfe");
        for (wchar_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        return bytes;
    }

    rvztest::TempFolder folder{L"rvdl lang"};
};

TEST_F(DownloadLanguageFile, ShippedFilesDefineEveryText) {
    for (const wchar_t* name : {L"RAVoduza_en.ini", L"RAVoduza_de.ini"}) {
        const std::wstring path = DistFolder() + name;
        for (size_t i = 0; i < rvdl::kTextCount; ++i) {
            wchar_t value[512];
            const DWORD length = ::GetPrivateProfileStringW(
                rvdl::kTextSection, rvdl::TextInfo(static_cast<TextId>(i)).key, L"", value, 512,
                path.c_str());
            EXPECT_GT(length, 0u) << rvztest::Utf8(name) << " lacks "
                                  << rvztest::Utf8(rvdl::TextInfo(static_cast<TextId>(i)).key);
        }
    }
}

TEST_F(DownloadLanguageFile, EnglishFileMatchesTheBuiltInTexts) {
    const rvdl::Texts file = rvdl::LoadLanguageFile(DistFolder() + L"RAVoduza_en.ini");
    const rvdl::Texts builtIn;
    for (size_t i = 0; i < rvdl::kTextCount; ++i) {
        const auto id = static_cast<TextId>(i);
        EXPECT_EQ(file.Get(id), builtIn.Get(id)) << rvztest::Utf8(rvdl::TextInfo(id).key);
    }
}

TEST_F(DownloadLanguageFile, GermanFileReadsWithItsUmlauts) {
    const rvdl::Texts texts = rvdl::LoadLanguageFile(DistFolder() + L"RAVoduza_de.ini");
    EXPECT_EQ(texts.Get(TextId::Cancel), L"Abbrechen");
    EXPECT_EQ(texts.Get(TextId::DecimalSeparator), L",");
    EXPECT_EQ(texts.Format(TextId::ErrorAddress, {{L"url", L"x"}}),
              L"Die Download-Adresse ist ung\u00fcltig: x");
    EXPECT_NE(texts.Get(TextId::ErrorCannotConnect).find(L"pr\u00fcfen"), std::wstring::npos);
}

TEST_F(DownloadLanguageFile, GermanHandshakeFailureSaysWhatTurnsTls12On) {
    const rvdl::Texts texts = rvdl::LoadLanguageFile(DistFolder() + L"RAVoduza_de.ini");
    const std::wstring agreed =
        L"Der Server unter dl.example und Windows konnten keine sichere Verbindung vereinbaren: ";
    const std::pair<rvdl::OldWindows, std::wstring> cases[] = {
        {rvdl::OldWindows::None,
         agreed + L"Sie haben keine Version des Verschl\u00fcsselungsprotokolls TLS gemeinsam."},
        {rvdl::OldWindows::Windows7,
         agreed + L"Der Server verlangt TLS 1.2 oder neuer, das Windows 7 ausgeschaltet l\u00e4sst. "
                  L"Schalten Sie in den Internetoptionen auf der Registerkarte \u201eErweitert\u201c "
                  L"\u201eTLS 1.2 verwenden\u201c ein, oder installieren Sie Internet Explorer 11 "
                  L"\u00fcber Windows Update, der es einschaltet; versuchen Sie es dann erneut."},
        {rvdl::OldWindows::Vista,
         agreed + L"Der Server verlangt TLS 1.2 oder neuer, das Windows Vista fehlt. Installieren Sie "
                  L"\u00fcber Windows Update das Update, das TLS 1.2 zu Windows Server 2008 und Vista "
                  L"bringt (KB4019276), und versuchen Sie es dann erneut."},
    };
    for (const auto& [windows, message] : cases) {
        rvdl::FailureDetails details;
        details.failure = Failure::Handshake;
        details.windows = windows;
        EXPECT_EQ(rvdl::DescribeFailure(texts, details, L"https://dl.example/tarvik.exe"), message);
    }
}

TEST_F(DownloadLanguageFile, MissingKeysAndEmptyValuesFallBackToEnglish) {
    const rvdl::Texts texts =
        rvdl::LoadLanguageFile(Write(Utf16(L"[Strings]\r\nCancel=Stopp\r\nRetry=\r\n")));
    EXPECT_EQ(texts.Get(TextId::Cancel), L"Stopp");
    EXPECT_EQ(texts.Get(TextId::Retry), L"&Retry");
    EXPECT_EQ(texts.Get(TextId::Heading), L"Downloading {file}");
}

TEST_F(DownloadLanguageFile, MissingFileOrFolderGivesEnglish) {
    for (const std::wstring& path :
         {std::wstring(), folder.path() + L"none.ini", folder.path(), std::wstring(L"none.ini")}) {
        EXPECT_EQ(rvdl::LoadLanguageFile(path).Get(TextId::Cancel), L"Cancel")
            << rvztest::Utf8(path);
    }
}

TEST_F(DownloadLanguageFile, MalformedFilesNeverBreakTheTexts) {
    std::string noise;
    for (int i = 0; i < 70000; ++i) noise += static_cast<char>((i * 7919) % 256);
    const std::string cases[] = {
        "",
        "\xff\xfe",                                   // a byte order mark alone
        "\xff\xfe[\x00S\x00",                         // cut off inside a section name
        "\xff\xfe[\x00Strings]\x00\r",               // an odd number of bytes
        noise,                                        // binary noise
        "[Strings]\r\nCancel=" + std::string(100000, 'x') + "\r\n",  // a very long line
        "Cancel=before any section\r\n[Strings\r\n=value\r\n",
    };
    for (const std::string& bytes : cases) {
        const rvdl::Texts texts = rvdl::LoadLanguageFile(Write(bytes));
        for (size_t i = 0; i < rvdl::kTextCount; ++i)
            EXPECT_FALSE(texts.Get(static_cast<TextId>(i)).empty());
        EXPECT_EQ(texts.Get(TextId::Retry), L"&Retry");
    }
}

}  // namespace
}  // namespace rvdltest
