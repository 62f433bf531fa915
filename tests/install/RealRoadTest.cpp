// The whole road as it ships: the real test loader with the real download
// library, downloading the stand-in setup from the loopback server.
#include "LoaderRun.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace rvztest {
namespace {

class RealRoad : public ::testing::Test {
protected:
    RealRoad() : run(kDemoConfig, LoaderRun::Library::None) {
        for (const wchar_t* file : {L"RAVoduza_Download.dll", L"RAVoduza_en.ini", L"RAVoduza_de.ini"})
            CopyFileOrThrow(BuildFolder() + L"dist\\" + file, run.folder() + file);
        ::DeleteFileW(ServedSetup().c_str());
    }
    ~RealRoad() override { ::DeleteFileW(ServedSetup().c_str()); }

    static std::wstring ServedSetup() { return BuildFolder() + L"tests\\http_root\\tarvik.exe"; }
    void ServeSetup() const {
        CopyFileOrThrow(BuildFolder() + L"tests\\fixtures\\tarvik_standin.exe", ServedSetup());
    }

    HWND StartLoader() {
        Process& loader = run.Start(L"", nullptr,
                                    {L"RVZ_SETUP_LOG=" + run.folder() + L"setup.log",
                                     L"RVZ_SETUP_TARGET=" + Target()});
        HWND wizard = WaitForWindow(loader.id());
        EXPECT_NE(wizard, nullptr);
        return wizard;
    }
    std::wstring Target() const { return run.folder() + L"Tarvik App\\"; }

    ScopedInstallRecord record;
    LoaderRun run;
};

TEST_F(RealRoad, DownloadsInstallsAndStartsTarvik) {
    ServeSetup();
    HWND wizard = StartLoader();
    PressButton(wizard, IDOK);
    ASSERT_TRUE(run.process().Wait(60s));
    EXPECT_EQ(run.process().ExitCode(), 0u);
    const auto setupRuns = ReadLines(run.folder() + L"setup.log");
    ASSERT_EQ(setupRuns.size(), 1u);
    EXPECT_NE(setupRuns[0].find("\\tarvik.exe\" /silent /norestart /mergetasks=autostart"),
              std::string::npos) << setupRuns[0];
    EXPECT_EQ(ProductStarts(Target() + L"tarvik.exe"), std::vector<std::string>{"\"" + Utf8(Target()) + "tarvik.exe\" /app:Demo"});
}

// The library's own dialog says why; the loader adds nothing and leaves nothing.
// A name beyond the ANSI code page, saved as UTF-8, reaches the dialog whole.
TEST_F(RealRoad, MissingSetupOnTheServerEndsAfterTheLibrarysMessage) {
    const std::wstring temp = LoaderTempPath();
    // The runs' logs come and go (the last ten are kept); nothing else may.
    const auto withoutLogs = [&] {
        std::vector<std::wstring> names = ListFolder(temp);
        names.erase(std::remove_if(names.begin(), names.end(), IsRunLog), names.end());
        return names;
    };
    const auto before = withoutLogs();
    WriteFileBytes(run.folder() + L"RAVoduza_config.ini", "[Loader]\r\nAppName=\xCE\xA9mega\r\n");
    HWND wizard = StartLoader();
    PressButton(wizard, IDOK);

    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (HWND window : TopLevelWindows(run.process().id()))
            if (ClassName(window) == L"RAVoduzaDownloadDialog" &&
                ::IsWindowVisible(::GetDlgItem(window, IDRETRY)))
                dialog = window;
        return dialog != nullptr;
    })) << "the failure is shown with Retry";
    EXPECT_EQ(WindowText(dialog), L"Setup - Tarvik + \u03A9mega");
    PressButton(dialog, IDCANCEL);

    ASSERT_TRUE(run.process().Wait(30s));
    EXPECT_EQ(run.process().ExitCode(), 4u);
    EXPECT_FALSE(PathExists(run.folder() + L"setup.log")) << "no setup was run";
    EXPECT_EQ(withoutLogs(), before) << "no work directory left";
}

}  // namespace
}  // namespace rvztest
