// The download dialog: shows a transfer's progress, says why it failed and
// offers Retry, and runs until the download has ended.
#pragma once

#include "BaseWindow.h"
#include "Handles.h"
#include "Progress.h"
#include "Texts.h"
#include "Transfer.h"

#include <windows.h>

#include <memory>
#include <string>

namespace rvdl {

struct DownloadRequest {
    HWND owner = nullptr;
    std::wstring url;
    std::wstring target;
    std::wstring title;
};

class DownloadDialog : public rvz::BaseWindow<DownloadDialog> {
public:
    DownloadDialog(const Texts& texts, DownloadRequest request);
    ~DownloadDialog();
    DownloadDialog(const DownloadDialog&) = delete;
    DownloadDialog& operator=(const DownloadDialog&) = delete;

    // Shows the dialog modally to its owner and returns when the download
    // has ended: true when the file is in place, false when it failed or
    // was cancelled.
    bool Run();

private:
    friend class rvz::BaseWindow<DownloadDialog>;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnHandlerFailed() noexcept { End(false); }

    // Starts the transfer, then makes the dialog, hidden. False when the
    // window cannot be made.
    bool Create();
    void CreateFonts();                // the message font and the heading's, at dpi_
    // Places every control at the DPI and gives it its font; makes those
    // that are missing (see MakeControls).
    void Layout(int dpi);
    // Makes each missing control in its place, with its font: those of a
    // failure only once the download failed.
    void MakeControls();
    RECT Scale(const RECT& design) const;
    HFONT FontFor(int id) const;
    void Place();
    HWND Control(int id) const { return ::GetDlgItem(hwnd(), id); }
    void SetText(int id, const std::wstring& text);
    int Scale(int value) const { return ::MulDiv(value, dpi_, 96); }

    void OnCommand(int id);            // a button was pressed
    void OnTick();                     // shows progress, notices the end
    void OnPaint();                    // white page above a grey button band
    void OnDpiChanged(int dpi, const RECT& suggested);  // moved to a monitor of another DPI
    HBRUSH OnColorStatic(HDC dc, HWND control);

    void StartTransfer();              // reports to the window once it exists
    void ShowProgress(const TransferProgress& progress);
    void SetBar(const TransferProgress& progress);
    void AskForCredentials(SignIn who);  // the prompt, its answer to the transfer
    void ShowFailure(const FailureDetails& details);
    void ShowFailureParts(bool failed);  // the message and Retry, or the bar and figures
    void End(bool succeeded) noexcept;

    const Texts& texts_;
    DownloadRequest request_;
    std::wstring host_;
    std::wstring fileName_;

    rvz::UniqueFont font_;
    rvz::UniqueFont headingFont_;
    rvz::UniqueIcon bigIcon_;
    rvz::UniqueIcon smallIcon_;
    int dpi_ = 96;
    int footerTop_ = 0;

    std::unique_ptr<Transfer> transfer_;
    SpeedMeter speed_;
    bool marquee_ = false;
    bool prompting_ = false;  // the credentials prompt is open
    bool failed_ = false;
    bool ended_ = false;
    bool succeeded_ = false;
};

}  // namespace rvdl
