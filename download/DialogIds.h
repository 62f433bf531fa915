// The download dialog's window class and control identifiers, which tests
// and accessibility tools use to find its parts.
#pragma once

namespace rvdl {

constexpr wchar_t kDialogClass[] = L"RAVoduzaDownloadDialog";

enum ControlId : int {
    kCancelId = 2,  // IDCANCEL: Esc and the close box press it too
    kRetryId = 4,   // IDRETRY
    kHeadingId = 100,
    kSourceId,
    kProgressId,
    kAmountId,
    kRateId,
    kMessageId,  // why the download failed
    // The credentials prompt's fields.
    kUserNameId = 110,
    kPasswordId,
};

}  // namespace rvdl
