// The download dialog's control identifiers, which tests and accessibility
// tools use to find its parts; its window class is public
// (RAVoduza_Download.h).
#pragma once

namespace rvdl {

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
